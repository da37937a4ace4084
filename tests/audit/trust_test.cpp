// What one security descriptor lets untrusted accounts do, which file names a
// command line may run, and which objects the audit looks at.
#include "audit/trust.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit/audit.h"
#include "fakes/fakes.h"
#include "platform/file.h"

namespace {

using audit::FindingKind;
using audit::ObjectKind;

constexpr char kAlice[] = "S-1-5-21-1-2-3-1001";  // a plain user
constexpr char kRoot[] = "S-1-5-21-1-2-3-1000";   // a member of Administrators
constexpr char kBob[] = "S-1-5-21-9-9-9-500";     // of an unreachable domain
constexpr char kTi[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The parts of a finding an administrator acts on.
struct Expected {
  FindingKind kind;
  std::string account;
  std::string right;
};
bool operator==(const Expected& a, const Expected& b) {
  return a.kind == b.kind && a.account == b.account && a.right == b.right;
}
void PrintTo(const Expected& e, std::ostream* os) {
  *os << "{" << static_cast<int>(e.kind) << ", " << e.account << ", " << e.right
      << "}";
}

class TrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ResetAll();
    auto& security = fakes::Security();
    security.names = {{"S-1-5-18", "NT AUTHORITY\\SYSTEM"},
                      {"S-1-5-32-545", "BUILTIN\\Users"},
                      {"S-1-1-0", "Everyone"},
                      {"S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
                      {kAlice, "VM\\alice"},
                      {kRoot, "VM\\root"}};
    security.membership = {{kRoot, platform::Membership::kMember},
                           {kBob, platform::Membership::kUnknown}};
  }

  static std::vector<Expected> Check(ObjectKind kind, const std::string& sddl) {
    audit::AccountJudge judge;
    std::vector<Expected> found;
    for (const audit::Finding& finding : audit::CheckSecurity(
             "C:\\Agent\\x", kind, fakes::ParseSddl(sddl), judge)) {
      EXPECT_EQ(finding.object, "C:\\Agent\\x");
      EXPECT_FALSE(finding.remedy.empty());
      found.push_back({finding.kind, finding.account, finding.right});
    }
    return found;
  }
};

struct AceCase {
  const char* name;
  ObjectKind kind;
  std::string sddl;
  std::vector<Expected> expected;
};

TEST_F(TrustTest, TheAceWalk) {
  const std::string users = "BUILTIN\\Users (S-1-5-32-545)";
  const std::string everyone = "Everyone (S-1-1-0)";
  const std::string alice = std::string("VM\\alice (") + kAlice + ")";
  const AceCase cases[] = {
      {"a null DACL",
       ObjectKind::kFile,
       "O:BAD:NO_ACCESS_CONTROL",
       {{FindingKind::kNullDacl, "", ""}}},
      {"trusted accounts and readers only",
       ObjectKind::kFile,
       "O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;FR;;;WD)",
       {}},
      {"Users with write data",
       ObjectKind::kFile,
       "O:BAD:(A;;FA;;;SY)(A;;0x120089;;;BU)(A;;0x2;;;BU)",
       {{FindingKind::kWritable, users, "write data"}}},
      {"entries of one account are merged",
       ObjectKind::kFile,
       "O:BAD:(A;;0x2;;;BU)(A;ID;0x10000;;;BU)(A;;WD;;;WD)",
       {{FindingKind::kWritable, users, "write data, delete"},
        {FindingKind::kWritable, everyone, "change permissions"}}},
      {"an inherit-only entry grants nothing here",
       ObjectKind::kFolder,
       "O:BAD:(A;OICIIO;FA;;;BU)(A;OIIO;GW;;;AU)",
       {}},
      {"a deny entry alone is no finding",
       ObjectKind::kFile,
       "O:BAD:(D;;FA;;;WD)(A;;FA;;;SY)",
       {}},
      {"an earlier deny for the same SID takes its rights away",
       ObjectKind::kFile,
       "O:BAD:(D;;0x2;;;BU)(A;;0x6;;;BU)",
       {{FindingKind::kWritable, users, "append data"}}},
      {"a deny for another SID does not cancel",
       ObjectKind::kFile,
       "O:BAD:(D;;FA;;;WD)(A;;0x2;;;BU)",
       {{FindingKind::kWritable, users, "write data"}}},
      {"a deny after the allow does not cancel",
       ObjectKind::kFile,
       "O:BAD:(A;;0x2;;;BU)(D;;0x2;;;BU)",
       {{FindingKind::kWritable, users, "write data"}}},
      {"CREATOR OWNER where it stands matches no one",
       ObjectKind::kFolder,
       "O:BAD:(A;;FA;;;CO)(A;OICIIO;GA;;;CO)(A;;FA;;;CG)",
       {}},
      {"TrustedInstaller",
       ObjectKind::kFile,
       std::string("O:") + kTi + "D:(A;;FA;;;" + kTi + ")",
       {}},
      {"an untrusted owner",
       ObjectKind::kFile,
       std::string("O:") + kAlice + "D:(A;;FA;;;SY)",
       {{FindingKind::kUntrustedOwner, alice, ""}}},
      {"OWNER RIGHTS stands for the owner",
       ObjectKind::kFile,
       std::string("O:") + kAlice + "D:(A;;FA;;;OW)",
       {{FindingKind::kUntrustedOwner, alice, ""},
        {FindingKind::kWritable, alice,
         "write data, append data, delete, change permissions, take "
         "ownership"}}},
      {"a member of Administrators",
       ObjectKind::kFile,
       std::string("O:") + kRoot + "D:(A;;FA;;;SY)(A;;FA;;;" + kRoot + ")",
       {}},
      {"membership that can't be determined",
       ObjectKind::kFile,
       std::string("O:") + kBob + "D:(A;;0x2;;;" + kBob + ")",
       {{FindingKind::kUnknownMembership, kBob,
         "own it, and so change its permissions"},
        {FindingKind::kUnknownMembership, kBob, "write data"}}},
      {"Wine's mode 644",
       ObjectKind::kFile,
       std::string("O:") + kRoot + "D:(A;;FA;;;SY)(A;;FA;;;" + kRoot +
           ")(A;;0x1200a9;;;WD)",
       {}},
      {"Wine's o+w on a folder",
       ObjectKind::kFolder,
       std::string("O:") + kRoot + "D:(A;;FA;;;SY)(A;;0x1301ff;;;WD)",
       {{FindingKind::kWritable, everyone,
         "add file, add subfolder, delete child, delete"}}},
      {"a new subfolder further up the path replaces nothing",
       ObjectKind::kPathFolder,
       "O:SYD:(A;;0x1200a9;;;BU)(A;CI;LC;;;AU)",
       {}},
      {"but a file there may be the unquoted path's program",
       ObjectKind::kPathFolder,
       "O:SYD:(A;;0x6;;;AU)",
       {{FindingKind::kWritable, "NT AUTHORITY\\Authenticated Users (S-1-5-11)",
         "add file"}}},
      {"a key writable by Authenticated Users",
       ObjectKind::kRegistryKey,
       "O:SYD:(A;CI;KA;;;SY)(A;CI;KR;;;BU)(A;;KW;;;AU)",
       {{FindingKind::kWritable, "NT AUTHORITY\\Authenticated Users (S-1-5-11)",
         "set value, create subkey"}}},
      {"generic rights",
       ObjectKind::kRegistryKey,
       "O:SYD:(A;;GA;;;WD)(A;;GR;;;BU)",
       {{FindingKind::kWritable, everyone, "generic all"}}},
      {"an account without a name is its SID",
       ObjectKind::kFile,
       "O:SYD:(A;;0x4;;;S-1-5-21-7-7-7-1234)",
       {{FindingKind::kWritable, "S-1-5-21-7-7-7-1234", "append data"}}},
      {"object entries are no plain grant",
       ObjectKind::kFile,
       "O:SYD:(OA;;FA;;;BU)",
       {}},
  };
  for (const AceCase& c : cases) {
    EXPECT_EQ(Check(c.kind, c.sddl), c.expected) << c.name;
  }
}

TEST_F(TrustTest, TheSameAccountIsAskedAboutOnce) {
  audit::AccountJudge judge;
  const auto record =
      fakes::ParseSddl(std::string("O:") + kAlice + "D:(A;;0x2;;;" + kAlice +
                       ")(A;;0x4;;;" + kAlice + ")");
  audit::CheckSecurity("a", ObjectKind::kFile, record, judge);
  audit::CheckSecurity("b", ObjectKind::kFile, record, judge);
  EXPECT_EQ(fakes::Security().membershipAsked,
            std::vector<std::string>{kAlice});
}

TEST_F(TrustTest, RemediesAreCommandsForTheObjectAndAccount) {
  audit::AccountJudge judge;
  const auto findings = [&judge](ObjectKind kind, const std::string& sddl) {
    return audit::CheckSecurity("C:\\Program Files\\Q", kind,
                                fakes::ParseSddl(sddl), judge);
  };
  EXPECT_EQ(findings(ObjectKind::kFile, "O:SYD:(A;;0x2;;;BU)")[0].remedy,
            "icacls \"C:\\Program Files\\Q\" /remove:g *S-1-5-32-545 && "
            "icacls \"C:\\Program Files\\Q\" /grant *S-1-5-32-545:(RX)");
  EXPECT_EQ(findings(ObjectKind::kFolder, "O:SYD:(A;ID;0x2;;;BU)")[0].remedy,
            "icacls \"C:\\Program Files\\Q\" /inheritance:d && "
            "icacls \"C:\\Program Files\\Q\" /remove:g *S-1-5-32-545 && "
            "icacls \"C:\\Program Files\\Q\" /grant "
            "*S-1-5-32-545:(OI)(CI)(RX)");
  EXPECT_EQ(findings(ObjectKind::kFile,
                     std::string("O:") + kAlice + "D:(A;;FA;;;SY)")[0]
                .remedy,
            "icacls \"C:\\Program Files\\Q\" /setowner *S-1-5-32-544");
  EXPECT_EQ(findings(ObjectKind::kFolder, "O:SYD:NO_ACCESS_CONTROL")[0].remedy,
            "icacls \"C:\\Program Files\\Q\" /grant:r "
            "*S-1-5-18:(OI)(CI)(F) *S-1-5-32-544:(OI)(CI)(F) "
            "*S-1-5-32-545:(OI)(CI)(RX)");
  EXPECT_NE(
      findings(ObjectKind::kRegistryKey, "O:SYD:(A;;KW;;;BU)")[0].remedy.find(
          "regedit"),
      std::string::npos);
}

struct CandidateCase {
  std::string commandLine;
  std::vector<std::string> files;
};

TEST(ExecutableCandidates, FollowCreateProcess) {
  const CandidateCase cases[] = {
      {"C:\\Agent\\riduvuruz.exe", {"C:\\Agent\\riduvuruz.exe"}},
      {"\"C:\\Program Files\\Q\\riduvuruz.exe\" -service",
       {"C:\\Program Files\\Q\\riduvuruz.exe"}},
      {"C:\\Program Files\\Q Agent\\riduvuruz.exe -service",
       {"C:\\Program.exe", "C:\\Program Files\\Q.exe",
        "C:\\Program Files\\Q Agent\\riduvuruz.exe",
        "C:\\Program Files\\Q Agent\\riduvuruz.exe -service"}},
      {"  C:\\a b\\c", {"C:\\a.exe", "C:\\a b\\c.exe"}},
      {"C:\\x\\a.exe  -start ", {"C:\\x\\a.exe", "C:\\x\\a.exe  -start"}},
      {"C:\\Program Files\\a.b c\\x.exe",
       {"C:\\Program.exe", "C:\\Program Files\\a.b",
        "C:\\Program Files\\a.b c\\x.exe"}},
      {"\"C:\\x y\\a\"", {"C:\\x y\\a.exe"}},
      {"\"C:\\unterminated", {"C:\\unterminated.exe"}},
      {"", {}},
      {"   ", {}},
  };
  for (const CandidateCase& c : cases) {
    std::vector<std::string> files;
    for (const audit::Candidate& candidate :
         audit::ExecutableCandidates(c.commandLine)) {
      files.push_back(candidate.file);
    }
    EXPECT_EQ(files, c.files) << c.commandLine;
  }
}

TEST(FoldersAbove, UpToTheRoot) {
  const CandidateCase cases[] = {
      {"C:\\A\\B\\x.exe", {"C:\\A\\B", "C:\\A", "C:\\"}},
      {"C:\\x.exe", {"C:\\"}},
      {"C:/A/x.exe", {"C:/A", "C:/"}},
      {"\\\\srv\\share\\d\\x.exe", {"\\\\srv\\share\\d", "\\\\srv\\share"}},
      {"\\x.exe", {"\\"}},
      {"x.exe", {}},
  };
  for (const CandidateCase& c : cases) {
    EXPECT_EQ(audit::FoldersAbove(c.commandLine), c.files) << c.commandLine;
  }
}

// The whole audit over an emulated machine: which objects it reads, and the
// findings that only it makes (unquoted path, unreadable objects).
class AuditLocationsTest : public TrustTest {
 protected:
  static void Set(const std::string& file, const std::string& sddl) {
    fakes::Security().files[file] = fakes::ParseSddl(sddl);
  }
  static std::vector<std::string> Objects(
      const std::vector<audit::Finding>& findings) {
    std::vector<std::string> objects;
    for (const audit::Finding& finding : findings) {
      objects.push_back(finding.object);
    }
    return objects;
  }
};

constexpr char kSafe[] = "O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
constexpr char kUsersWrite[] = "O:SYD:(A;;FA;;;SY)(A;;0x1301ff;;;BU)";

TEST_F(AuditLocationsTest, EveryTrustedObjectIsChecked) {
  const std::string conf =
      std::string("C:\\Conf") + platform::kPathSeparator + "server.conf";
  for (const char* file :
       {"C:\\Agent\\riduvuruz.exe", "C:\\Agent", "C:\\", "C:\\Conf",
        conf.c_str(), "C:\\QUENTAR\\didurozir.exe", "C:\\QUENTAR",
        "C:\\QUENTAR\\didurozir-messages.dll"}) {
    Set(file, kUsersWrite);
  }
  for (const char* key : {"SYSTEM\\CurrentControlSet\\Services\\riduvuruz",
                          "SOFTWARE\\QUENTAR\\Agent",
                          "SYSTEM\\CurrentControlSet\\Services\\didurozir"}) {
    fakes::Security().keys[key] = fakes::ParseSddl("O:SYD:(A;;KW;;;BU)");
  }
  EXPECT_EQ(
      Objects(audit::AuditLocations("C:\\Agent\\riduvuruz.exe -service",
                                    "C:\\Conf", "C:\\QUENTAR\\didurozir.exe")),
      (std::vector<std::string>{
          "C:\\Agent\\riduvuruz.exe", "C:\\Agent", "C:\\", "C:\\Conf", conf,
          "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUENTAR\\Agent",
          "C:\\QUENTAR\\didurozir.exe", "C:\\QUENTAR",
          "C:\\QUENTAR\\didurozir-messages.dll",
          "HKEY_LOCAL_"
          "MACHINE\\SYSTEM\\CurrentControlSet\\Services\\didurozir"}));
}

TEST_F(AuditLocationsTest, AnUnquotedPathWithASpaceBeforeTheProgramsEnd) {
  const std::string program = "C:\\Program Files\\Q Agent\\riduvuruz.exe";
  for (const std::string& file :
       {program, std::string("C:\\Program Files\\Q Agent"),
        std::string("C:\\Program Files"), std::string("C:\\")}) {
    Set(file, kSafe);
  }
  const std::string imagePath = program + " -service";
  const std::vector<audit::Finding> findings =
      audit::AuditLocations(imagePath, "", "");
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].kind, FindingKind::kUnquotedPath);
  EXPECT_EQ(findings[0].object,
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"
            "riduvuruz");
  EXPECT_EQ(findings[0].detail, imagePath);
  EXPECT_EQ(findings[0].remedy,
            "sc config riduvuruz binPath= \"\\\"C:\\Program Files\\Q "
            "Agent\\riduvuruz.exe\\\" -service\"");
  EXPECT_EQ(audit::FindingText(findings[0]),
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"
            "riduvuruz: ImagePath " +
                imagePath +
                " is not quoted and has a space in the program's path, so "
                "Windows tries C:\\Program.exe first (CWE-428). Remedy: " +
                findings[0].remedy);

  // A program already planted where Windows looks first is what runs: it is
  // checked as the agent's executable would be.
  Set("C:\\Program.exe", std::string("O:") + kAlice + "D:(A;;FA;;;SY)");
  const std::vector<audit::Finding> planted =
      audit::AuditLocations(imagePath, "", "");
  ASSERT_EQ(planted.size(), 2u);
  EXPECT_EQ(planted[0].kind, FindingKind::kUntrustedOwner);
  EXPECT_EQ(planted[0].object, "C:\\Program.exe");
  EXPECT_EQ(planted[1].kind, FindingKind::kUnquotedPath);
  fakes::Security().files.erase("C:\\Program.exe");

  // Quoted, or with the space only among the arguments: nothing to say.
  EXPECT_TRUE(
      audit::AuditLocations("\"" + program + "\" -service", "", "").empty());
  Set("C:\\Agent\\riduvuruz.exe", kSafe);
  Set("C:\\Agent", kSafe);
  EXPECT_TRUE(audit::AuditLocations("C:\\Agent\\riduvuruz.exe -service", "", "")
                  .empty());
}

TEST_F(AuditLocationsTest, AnObjectWhoseSecurityCantBeReadIsAFinding) {
  fakes::Security().unreadable["C:\\Agent"] = 5;
  fakes::Security().unreadable["C:\\"] = 1117;
  const std::vector<audit::Finding> findings =
      audit::AuditLocations("C:\\Agent\\riduvuruz.exe", "", "");
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].kind, FindingKind::kUnreadable);
  EXPECT_EQ(audit::FindingText(findings[0]),
            "C:\\Agent: its permissions could not be read (access denied). "
            "Remedy: icacls \"C:\\Agent\" /grant *S-1-5-18:(F)");
  EXPECT_EQ(findings[1].detail, "system error 1117");
}

TEST_F(AuditLocationsTest, FindingTexts) {
  const audit::Finding writable{FindingKind::kWritable, "C:\\Conf",
                                "BUILTIN\\Users (S-1-5-32-545)",
                                "add file, delete child", "icacls ..."};
  EXPECT_EQ(audit::FindingText(writable),
            "C:\\Conf: BUILTIN\\Users (S-1-5-32-545) may add file, delete "
            "child, and is not a trusted account. Remedy: icacls ...");
  const audit::Finding owner{FindingKind::kUntrustedOwner, "C:\\Conf",
                             "VM\\alice (S-1-5-21-1-2-3-1001)", "", "fix"};
  EXPECT_EQ(audit::FindingText(owner),
            "C:\\Conf is owned by VM\\alice (S-1-5-21-1-2-3-1001), which is "
            "not a trusted account and may change its permissions. Remedy: "
            "fix");
  const audit::Finding null{FindingKind::kNullDacl, "C:\\Conf", "", "", "fix"};
  EXPECT_EQ(audit::FindingText(null),
            "C:\\Conf has no DACL: anyone may change it. Remedy: fix");
  const audit::Finding unknown{FindingKind::kUnknownMembership, "C:\\Conf",
                               "S-1-5-21-9-9-9-500", "write data", "fix"};
  EXPECT_EQ(audit::FindingText(unknown),
            "C:\\Conf: S-1-5-21-9-9-9-500 may write data, and whether it is a "
            "member of Administrators cannot be determined. Remedy: fix");
}

}  // namespace
