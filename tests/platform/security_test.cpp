// Owners, DACLs and accounts as Windows (here Wine) reports them, and what
// the audit makes of them: a file of Unix mode 644 is safe, one that others
// may write is writable by Everyone; a key's security set through the API
// reads back.
#include "platform/security.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <string>
#include <vector>

#include "audit/trust.h"

namespace {

std::string FixturePath(const char* name) {
  std::string path = std::string(DIDUROZIR_SECURITY_FIXTURE) + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::vector<audit::Finding> AuditFile(const std::string& path) {
  platform::SecurityRecord record;
  std::uint32_t error = 0;
  EXPECT_EQ(platform::ReadSecurity(platform::SecuredObject::kFile, path,
                                   &record, &error),
            platform::SecurityReadResult::kRead)
      << path << ": " << error;
  audit::AccountJudge judge;
  return audit::CheckSecurity(
      path, {audit::ObjectKind::kFile, audit::kTargetRights, {}}, record,
      judge);
}

TEST(SecurityTest, AFileOfMode644IsSafe) {
  const std::string path = FixturePath("mode644.conf");
  platform::SecurityRecord record;
  std::uint32_t error = 0;
  ASSERT_EQ(platform::ReadSecurity(platform::SecuredObject::kFile, path,
                                   &record, &error),
            platform::SecurityReadResult::kRead);
  EXPECT_TRUE(record.hasDacl);
  EXPECT_FALSE(record.ownerSid.empty());
  // The owner is the Unix user's account, a member of Administrators.
  EXPECT_EQ(platform::AdministratorsMembership(record.ownerSid),
            platform::Membership::kMember)
      << record.ownerSid;
  EXPECT_TRUE(AuditFile(path).empty());
}

TEST(SecurityTest, AFileOthersMayWriteIsWritableByEveryone) {
  const std::vector<audit::Finding> findings =
      AuditFile(FixturePath("world_writable.conf"));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, audit::FindingKind::kWritable);
  EXPECT_EQ(findings[0].account, "Everyone (S-1-1-0)");
  EXPECT_EQ(findings[0].right, "write data, append data, delete");
}

TEST(SecurityTest, AMissingFileAndKeyAreNotFound) {
  platform::SecurityRecord record;
  std::uint32_t error = 0;
  EXPECT_EQ(platform::ReadSecurity(platform::SecuredObject::kFile,
                                   FixturePath("absent.conf"), &record, &error),
            platform::SecurityReadResult::kNotFound);
  EXPECT_EQ(platform::ReadSecurity(platform::SecuredObject::kRegistryKey,
                                   "SOFTWARE\\didurozir-tests-absent", &record,
                                   &error),
            platform::SecurityReadResult::kNotFound);
}

TEST(SecurityTest, AccountsByName) {
  EXPECT_EQ(platform::AdministratorsMembership("S-1-5-32-545"),
            platform::Membership::kNotMember);
  EXPECT_EQ(platform::AdministratorsMembership("S-1-1-0"),
            platform::Membership::kNotMember);
  EXPECT_NE(platform::AccountName("S-1-5-18").find("SYSTEM"),
            std::string::npos);
  EXPECT_EQ(platform::AccountName("S-1-5-21-7-7-7-4242"), "");
}

TEST(SecurityTest, AKeysSecuritySetThroughTheApiReadsBack) {
  const std::wstring path = L"SOFTWARE\\didurozir-tests-security-" +
                            std::to_wstring(GetCurrentProcessId());
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:BAD:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)(A;;KW;;;AU)",
      SDDL_REVISION_1, &descriptor, nullptr));
  // Wine makes the creating user's primary group ("None") the owner of a
  // new key: a finding of its own, which the test is not about.
  const LONG set = RegSetKeySecurity(
      key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  RegCloseKey(key);
  ASSERT_EQ(set, ERROR_SUCCESS);

  platform::SecurityRecord record;
  std::uint32_t error = 0;
  const platform::SecurityReadResult result = platform::ReadSecurity(
      platform::SecuredObject::kRegistryKey,
      std::string(path.begin(), path.end()), &record, &error);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  ASSERT_EQ(result, platform::SecurityReadResult::kRead) << error;
  EXPECT_EQ(record.ownerSid, "S-1-5-32-544");
  ASSERT_EQ(record.dacl.size(), 4u);
  EXPECT_EQ(record.dacl[3].type, platform::AceType::kAllow);
  EXPECT_EQ(record.dacl[3].sid, "S-1-5-11");
  EXPECT_EQ(record.dacl[3].mask, 0x20006u);

  audit::AccountJudge judge;
  const std::vector<audit::Finding> findings = audit::CheckSecurity(
      "key", {audit::ObjectKind::kRegistryKey, audit::kTargetRights, {}},
      record, judge);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, audit::FindingKind::kWritable);
  EXPECT_EQ(findings[0].right, "set value, create subkey");
}

}  // namespace
