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
#include "platform/security_win.h"

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

TEST(SecurityTest, AMissingFileFolderOrKeyIsNotFound) {
  const struct {
    platform::SecuredObject kind;
    std::string name;
  } cases[] = {
      {platform::SecuredObject::kFile, FixturePath("absent.conf")},
      {platform::SecuredObject::kFile, FixturePath("absent/absent.conf")},
      {platform::SecuredObject::kRegistryKey,
       "SOFTWARE\\didurozir-tests-absent"},
  };
  for (const auto& c : cases) {
    platform::SecurityRecord record;
    std::uint32_t error = 0;
    EXPECT_EQ(platform::ReadSecurity(c.kind, c.name, &record, &error),
              platform::SecurityReadResult::kNotFound)
        << c.name << ": " << error;
  }
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

// Wine lists no member of any local group; Windows lists, say, a domain's
// Domain Admins in Administrators, and its Domain Users not.
TEST(SecurityTest, OnlyAnAccountTheGroupListsIsADirectMember) {
  PSID sids[3] = {};
  const wchar_t* texts[] = {L"S-1-5-21-7-7-7-500", L"S-1-5-21-7-7-7-512",
                            L"S-1-5-21-7-7-7-513"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(ConvertStringSidToSidW(texts[i], &sids[i]));
  }
  LOCALGROUP_MEMBERS_INFO_0 members[] = {{sids[0]}, {sids[1]}};
  EXPECT_TRUE(platform::IsListedMember(sids[1], members, 2));
  EXPECT_FALSE(platform::IsListedMember(sids[2], members, 2));
  for (PSID sid : sids) LocalFree(sid);
}

// Gives a new key of HKEY_LOCAL_MACHINE the owner and the DACL of
// `descriptor`, reads them back through the API and deletes the key.
platform::SecurityReadResult ReadKeySetTo(PSECURITY_DESCRIPTOR descriptor,
                                          platform::SecurityRecord* record,
                                          std::uint32_t* error) {
  const std::wstring path = L"SOFTWARE\\didurozir-tests-security-" +
                            std::to_wstring(GetCurrentProcessId());
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  // Wine makes the creating user's primary group ("None") the owner of a
  // new key: a finding of its own, which the tests are not about.
  EXPECT_EQ(RegSetKeySecurity(
                key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                descriptor),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const platform::SecurityReadResult result = platform::ReadSecurity(
      platform::SecuredObject::kRegistryKey,
      std::string(path.begin(), path.end()), record, error);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  return result;
}

platform::SecurityReadResult ReadKeySetTo(const wchar_t* sddl,
                                          platform::SecurityRecord* record,
                                          std::uint32_t* error) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl, SDDL_REVISION_1, &descriptor, nullptr));
  const platform::SecurityReadResult result =
      ReadKeySetTo(descriptor, record, error);
  LocalFree(descriptor);
  return result;
}

// An entry inherit-only grants nothing on the key itself.
TEST(SecurityTest, AKeysSecuritySetThroughTheApiReadsBack) {
  platform::SecurityRecord record;
  std::uint32_t error = 0;
  ASSERT_EQ(ReadKeySetTo(L"O:BAD:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)"
                         L"(A;;KW;;;AU)(A;CIIO;KA;;;BU)",
                         &record, &error),
            platform::SecurityReadResult::kRead)
      << error;
  EXPECT_EQ(record.ownerSid, "S-1-5-32-544");
  ASSERT_EQ(record.dacl.size(), 5u);
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

// A null DACL, which grants everyone anything, reads as none; a key that
// denies reading its security, owned by another account, is denied, not
// missing. (Wine reads the SDDL "D:NO_ACCESS_CONTROL" as an empty DACL.)
TEST(SecurityTest, ANullDaclIsNoneAndADeniedReadIsDenied) {
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                                 administrators, &size));
  SECURITY_DESCRIPTOR open;
  ASSERT_TRUE(
      InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&open, administrators, FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  platform::SecurityRecord record;
  std::uint32_t error = 0;
  ASSERT_EQ(ReadKeySetTo(&open, &record, &error),
            platform::SecurityReadResult::kRead)
      << error;
  EXPECT_FALSE(record.hasDacl);

  EXPECT_EQ(ReadKeySetTo(L"O:SYD:(D;;RC;;;WD)(A;;KA;;;WD)", &record, &error),
            platform::SecurityReadResult::kDenied);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
}

}  // namespace
