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

  static std::vector<Expected> Check(const audit::Role& role,
                                     const std::string& sddl) {
    audit::AccountJudge judge;
    std::vector<Expected> found;
    for (const audit::Finding& finding : audit::CheckSecurity(
             "C:\\Agent\\x", role, fakes::ParseSddl(sddl), judge)) {
      EXPECT_EQ(finding.object, "C:\\Agent\\x");
      EXPECT_FALSE(finding.remedy.empty());
      found.push_back({finding.kind, finding.account, finding.right});
    }
    return found;
  }
};

// What counts on a file SYSTEM runs, on its own folder, on a folder further
// up its path, and on a key.
const audit::Role kFile{ObjectKind::kFile, audit::kTargetRights, {}};
const audit::Role kOwnFolder{ObjectKind::kFolder,
                             audit::kWriteData | audit::kDeleteChild |
                                 audit::kDelete | audit::kWriteDac |
                                 audit::kWriteOwner,
                             {}};
const audit::Role kFolderAbove{ObjectKind::kFolder,
                               audit::kDeleteChild | audit::kDelete |
                                   audit::kWriteDac | audit::kWriteOwner,
                               {}};
const audit::Role kKey{ObjectKind::kRegistryKey, audit::kTargetRights, {}};

struct AceCase {
  const char* name;
  audit::Role role;
  std::string sddl;
  std::vector<Expected> expected;
};

TEST_F(TrustTest, TheAceWalk) {
  const std::string users = "BUILTIN\\Users (S-1-5-32-545)";
  const std::string everyone = "Everyone (S-1-1-0)";
  const std::string alice = std::string("VM\\alice (") + kAlice + ")";
  const std::string all =
      "write data, append data, delete, change permissions, take ownership";
  const AceCase cases[] = {
      {"a null DACL",
       kFile,
       "O:BAD:NO_ACCESS_CONTROL",
       {{FindingKind::kNullDacl, "", ""}}},
      {"trusted accounts and readers only",
       kFile,
       "O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;FR;;;WD)",
       {}},
      {"Users with write data",
       kFile,
       "O:BAD:(A;;FA;;;SY)(A;;0x120089;;;BU)(A;;0x2;;;BU)",
       {{FindingKind::kWritable, users, "write data"}}},
      {"entries of one account are merged",
       kFile,
       "O:BAD:(A;;0x2;;;BU)(A;ID;0x10000;;;BU)(A;;WD;;;WD)",
       {{FindingKind::kWritable, users, "write data, delete"},
        {FindingKind::kWritable, everyone, "change permissions"}}},
      {"an inherit-only entry grants nothing here",
       kOwnFolder,
       "O:BAD:(A;OICIIO;FA;;;BU)(A;OIIO;GW;;;AU)",
       {}},
      {"a deny entry alone is no finding",
       kFile,
       "O:BAD:(D;;FA;;;WD)(A;;FA;;;SY)",
       {}},
      {"an earlier deny for the same SID takes its rights away",
       kFile,
       "O:BAD:(D;;0x2;;;BU)(A;;0x6;;;BU)",
       {{FindingKind::kWritable, users, "append data"}}},
      {"a deny for another SID does not cancel",
       kFile,
       "O:BAD:(D;;FA;;;WD)(A;;0x2;;;BU)",
       {{FindingKind::kWritable, users, "write data"}}},
      {"a deny after the allow does not cancel",
       kFile,
       "O:BAD:(A;;0x2;;;BU)(D;;0x2;;;BU)",
       {{FindingKind::kWritable, users, "write data"}}},
      {"CREATOR OWNER where it stands matches no one",
       kOwnFolder,
       "O:BAD:(A;;FA;;;CO)(A;OICIIO;GA;;;CO)(A;;FA;;;CG)",
       {}},
      {"TrustedInstaller",
       kFile,
       std::string("O:") + kTi + "D:(A;;FA;;;" + kTi + ")",
       {}},
      {"an untrusted owner",
       kFile,
       std::string("O:") + kAlice + "D:(A;;FA;;;SY)",
       {{FindingKind::kUntrustedOwner, alice, ""}}},
      {"OWNER RIGHTS takes the owner's implicit right away, and gives its own",
       kFile,
       std::string("O:") + kAlice + "D:(A;;FA;;;SY)(A;;FA;;;OW)",
       {{FindingKind::kWritable, alice, all}}},
      {"an inherit-only OWNER RIGHTS entry leaves the owner its right",
       kOwnFolder,
       std::string("O:") + kAlice + "D:(A;;FA;;;SY)(A;OICIIO;FR;;;OW)",
       {{FindingKind::kUntrustedOwner, alice, ""}}},
      {"a member of Administrators",
       kFile,
       std::string("O:") + kRoot + "D:(A;;FA;;;SY)(A;;FA;;;" + kRoot + ")",
       {}},
      {"membership that can't be determined",
       kFile,
       std::string("O:") + kBob + "D:(A;;0x2;;;" + kBob + ")",
       {{FindingKind::kUnknownMembership, kBob,
         "own it, and so change its permissions"},
        {FindingKind::kUnknownMembership, kBob, "write data"}}},
      {"Wine's mode 644",
       kFile,
       std::string("O:") + kRoot + "D:(A;;FA;;;SY)(A;;FA;;;" + kRoot +
           ")(A;;0x1200a9;;;WD)",
       {}},
      {"Wine's o+w on the agent's own folder",
       kOwnFolder,
       std::string("O:") + kRoot + "D:(A;;FA;;;SY)(A;;0x1301ff;;;WD)",
       {{FindingKind::kWritable, everyone, "add file, delete child, delete"}}},
      {"a new subfolder or file further up the path replaces nothing",
       kFolderAbove,
       "O:SYD:(A;;0x1200a9;;;BU)(A;;0x116;;;AU)",
       {}},
      {"a key writable by Authenticated Users",
       kKey,
       "O:SYD:(A;CI;KA;;;SY)(A;CI;KR;;;BU)(A;;KW;;;AU)",
       {{FindingKind::kWritable, "NT AUTHORITY\\Authenticated Users (S-1-5-11)",
         "set value, create subkey"}}},
      {"generic rights count as what they stand for",
       kKey,
       "O:SYD:(A;;GA;;;WD)(A;;GR;;;BU)(A;;GW;;;AU)",
       {{FindingKind::kWritable, everyone,
         "set value, create subkey, delete, change permissions, take "
         "ownership"},
        {FindingKind::kWritable, "NT AUTHORITY\\Authenticated Users (S-1-5-11)",
         "set value, create subkey"}}},
      {"an account without a name is its SID",
       kFile,
       "O:SYD:(A;;0x4;;;S-1-5-21-7-7-7-1234)",
       {{FindingKind::kWritable, "S-1-5-21-7-7-7-1234", "append data"}}},
      {"an object entry without an object type is a plain allow",
       kFile,
       "O:SYD:(OA;;FA;;;BU)",
       {{FindingKind::kWritable, users, all}}},
      {"an object entry with one governs that type only",
       kFile,
       "O:SYD:(OA;;FA;bf967a86-0de6-11d0-a285-00aa003049e2;;BU)"
       "(OD;;0x2;bf967a86-0de6-11d0-a285-00aa003049e2;;WD)(A;;0x2;;;WD)",
       {{FindingKind::kWritable, everyone, "write data"}}},
      {"an object deny without one is a plain deny",
       kFile,
       "O:SYD:(OD;;0x2;;;BU)(A;;0x6;;;BU)",
       {{FindingKind::kWritable, users, "append data"}}},
  };
  for (const AceCase& c : cases) {
    EXPECT_EQ(Check(c.role, c.sddl), c.expected) << c.name;
  }
}

TEST_F(TrustTest, TheSameAccountIsAskedAboutOnce) {
  audit::AccountJudge judge;
  const auto record =
      fakes::ParseSddl(std::string("O:") + kAlice + "D:(A;;0x2;;;" + kAlice +
                       ")(A;;0x4;;;" + kAlice + ")");
  audit::CheckSecurity("a", kFile, record, judge);
  audit::CheckSecurity("b", kFile, record, judge);
  EXPECT_EQ(fakes::Security().membershipAsked,
            std::vector<std::string>{kAlice});
}

TEST_F(TrustTest, RemediesAreCommandsForTheObjectAndAccount) {
  audit::AccountJudge judge;
  const auto findings = [&judge](const audit::Role& role,
                                 const std::string& sddl) {
    return audit::CheckSecurity("C:\\Program Files\\Q", role,
                                fakes::ParseSddl(sddl), judge);
  };
  EXPECT_EQ(findings(kFile, "O:SYD:(A;;0x2;;;BU)")[0].remedy,
            "icacls \"C:\\Program Files\\Q\" /remove:g *S-1-5-32-545 && "
            "icacls \"C:\\Program Files\\Q\" /grant *S-1-5-32-545:(RX)");
  EXPECT_EQ(findings(kOwnFolder, "O:SYD:(A;ID;0x2;;;BU)")[0].remedy,
            "icacls \"C:\\Program Files\\Q\" /inheritance:d && "
            "icacls \"C:\\Program Files\\Q\" /remove:g *S-1-5-32-545 && "
            "icacls \"C:\\Program Files\\Q\" /grant "
            "*S-1-5-32-545:(OI)(CI)(RX)");
  EXPECT_EQ(
      findings(kFile, std::string("O:") + kAlice + "D:(A;;FA;;;SY)")[0].remedy,
      "icacls \"C:\\Program Files\\Q\" /setowner *S-1-5-32-544");
  EXPECT_EQ(findings(kOwnFolder, "O:SYD:NO_ACCESS_CONTROL")[0].remedy,
            "icacls \"C:\\Program Files\\Q\" /grant:r "
            "*S-1-5-18:(OI)(CI)(F) *S-1-5-32-544:(OI)(CI)(F) "
            "*S-1-5-32-545:(OI)(CI)(RX)");
  EXPECT_NE(findings(kKey, "O:SYD:(A;;KW;;;BU)")[0].remedy.find("regedit"),
            std::string::npos);

  // Where the only right that counts is the one to create a missing folder,
  // taking it away would take a Windows default away: the folder is made
  // instead, protected from what the folder above passes down.
  audit::Role root = kFolderAbove;
  root.missing = {{"C:\\Agent", audit::kAppendData}};
  const std::vector<audit::Finding> create =
      findings(root, "O:SYD:(A;;LC;;;AU)");
  ASSERT_EQ(create.size(), 1u);
  EXPECT_EQ(create[0].creatable, std::vector<std::string>{"C:\\Agent"});
  EXPECT_EQ(create[0].remedy,
            "mkdir \"C:\\Agent\" && icacls \"C:\\Agent\" /inheritance:r "
            "/grant:r *S-1-5-18:(OI)(CI)(F) *S-1-5-32-544:(OI)(CI)(F) "
            "*S-1-5-32-545:(OI)(CI)(RX)");
  // With another right that counts, the account's rights go.
  EXPECT_EQ(findings(root, "O:SYD:(A;;0x10004;;;AU)")[0].remedy.rfind(
                "icacls \"C:\\Program Files\\Q\" /remove:g *S-1-5-11", 0),
            0u);
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
      {"C:\\A\\\\x.exe", {"C:\\A", "C:\\"}},
      {"C:\\\\x.exe", {"C:\\"}},
  };
  for (const CandidateCase& c : cases) {
    EXPECT_EQ(audit::FoldersAbove(c.commandLine), c.files) << c.commandLine;
  }
}

// Security descriptors as Windows ships them, each with where it is
// published. Folders and files made by installers are what Windows' own
// inheritance makes of their parents' entries: a generic inheritable entry
// becomes an effective entry of the rights it stands for plus the template
// (icacls: "(I)(F)" and "(I)(CI)(IO)(F)"), and CREATOR OWNER the creator.
#define TI_SID "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
// C:\ of Windows 10/11: the descriptor read from a stock install; the same
// entries are DISA STIG WN10-00-000095 (V-220717) and WN11-00-000095.
constexpr char kClientRoot[] =
    "O:" TI_SID
    "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
    "(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
// C:\ of Windows Server: DISA STIG WN22-00-000140 (V-254251), WN16 V-224832
// (icacls "c:\": SYSTEM (OI)(CI)(F), Administrators (OI)(CI)(F), Users
// (OI)(CI)(RX), Users (CI)(AD), Users (CI)(IO)(WD), CREATOR OWNER
// (OI)(CI)(IO)(F)).
constexpr char kServerRoot[] =
    "O:" TI_SID
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
    "(A;CI;LC;;;BU)(A;CIIO;DC;;;BU)(A;OICIIO;GA;;;CO)";
// The root of a data volume that Windows 10 formatted: Get-Acl of an NTFS
// non-system disk's root (little-train.com/posts/ebaccba2.html); icacls
// shows Authenticated Users (OI)(CI)(M), the root itself included.
constexpr char kDataVolumeRoot[] =
    "O:SYD:AI(A;OICIIO;SDGXGWGR;;;AU)(A;;0x1301bf;;;AU)(A;;FA;;;SY)"
    "(A;OICIIO;GA;;;SY)(A;OICIIO;GA;;;BA)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"
    "(A;OICIIO;GXGR;;;BU)";
// Program Files, and likewise Windows and System32: DISA STIG
// WN10-00-000095 (V-220717), WN19 V-205736 ("SYSTEM - Modify - This folder
// only", "Full control - Subfolders and files only", ...).
constexpr char kProgramFiles[] =
    "O:" TI_SID "D:PAI(A;;FA;;;" TI_SID ")(A;CIIO;GA;;;" TI_SID
    ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
    "(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
    "(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)"
    "(A;;0x1200a9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";
// A folder an MSI makes under Program Files (msiexec runs as SYSTEM).
constexpr char kMsiFolder[] =
    "O:SYD:AI(A;ID;FA;;;" TI_SID ")(A;CIIOID;GA;;;" TI_SID
    ")(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)"
    "(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)"
    "(A;ID;0x1200a9;;;AC)(A;OICIIOID;GXGR;;;AC)"
    "(A;ID;0x1200a9;;;S-1-15-2-2)(A;OICIIOID;GXGR;;;S-1-15-2-2)";
// A file in such a folder (icacls: SYSTEM (I)(F), Administrators (I)(F),
// Users (I)(RX), both application package groups (I)(RX)).
constexpr char kMsiFile[] =
    "O:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)"
    "(A;ID;0x1200a9;;;AC)(A;ID;0x1200a9;;;S-1-15-2-2)";
// A file of System32: icacls C:\Windows\System32\mmc.exe of a stock install
// (support.moonpoint.com/os/windows/commands/icacls.php).
constexpr char kSystem32File[] =
    "O:" TI_SID "D:PAI(A;;FA;;;" TI_SID
    ")(A;;0x1200a9;;;BA)(A;;0x1200a9;;;SY)(A;;0x1200a9;;;BU)"
    "(A;;0x1200a9;;;AC)(A;;0x1200a9;;;S-1-15-2-2)";
// ProgramData: the descriptor read from a stock install (icacls: Users
// (OI)(CI)(RX) and (CI)(WD,AD,WEA,WA), CREATOR OWNER (OI)(CI)(IO)(F)).
constexpr char kProgramData[] =
    "O:SYD:PAI(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
    "(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)";
// A folder an elevated installer makes under ProgramData: Users keep add
// file and add subfolder, (I)(CI)(WD,AD,WEA,WA).
constexpr char kInstallerDataFolder[] =
    "O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;FA;;;SY)"
    "(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)";
// A file it writes there.
constexpr char kInstallerDataFile[] =
    "O:BAD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
// What an administrator's new folder and file in C:\ of Windows 10/11
// inherit: icacls Authenticated Users (I)(M) and (I)(OI)(CI)(IO)(M).
constexpr char kClientRootFolder[] =
    "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
    "(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
constexpr char kClientRootFile[] =
    "O:BAD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)"
    "(A;ID;0x1301bf;;;AU)";
// And in C:\ of Windows Server: Users (I)(CI)(AD) and (I)(CI)(WD).
constexpr char kServerRootFolder[] =
    "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)"
    "(A;CIID;LC;;;BU)(A;CIID;DC;;;BU)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)";
constexpr char kServerRootFile[] =
    "O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;FA;;;BA)";
// A folder made with its inheritance removed: SYSTEM, Administrators, Users
// read and execute; and a file in it.
constexpr char kProtectedFolder[] =
    "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr char kProtectedFile[] =
    "O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
// A service key CreateService makes: HKLM\SYSTEM's entries, DISA STIG
// WN10-RG-000005 (V-220907), WN19 V-205737, with the capability SID the STIG
// notes.
constexpr char kServiceKey[] =
    "O:SYD:AI(A;CIID;KR;;;BU)(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)"
    "(A;CIIOID;GA;;;CO)(A;CIID;KR;;;AC)(A;CIID;KR;;;S-1-15-3-1024-"
    "1065365936-1281604716-3511738428-1654721687-432734479-3232135806-"
    "4053264122-3456934681)";
// A key an installer makes under HKLM\SOFTWARE, whose CREATOR OWNER entry
// applies to "This key and subkeys" (the same STIG findings).
constexpr char kSoftwareKey[] =
    "O:BAD:AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KR;;;BU)"
    "(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)(A;CIID;KR;;;AC)";
// The classic weak key: Everyone Full Control.
constexpr char kEveryoneKey[] = "O:SYD:(A;CI;KA;;;WD)(A;CIID;KA;;;SY)";

constexpr char kServiceKeyPath[] =
    "SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr char kProductKeyPath[] = "SOFTWARE\\QUENTAR\\Agent";
constexpr char kWatchdog[] =
    "C:\\Program Files\\QUENTAR\\Monitor\\didurozir.exe";
constexpr char kAgentExe[] = "C:\\Program Files\\QUENTAR\\Agent\\riduvuruz.exe";
constexpr char kConfigFolder[] = "C:\\ProgramData\\QUENTAR\\Agent";

std::string Conf(const std::string& folder) {
  return folder + platform::kPathSeparator + "server.conf";
}

// The parts of a finding an administrator acts on, and its object.
struct Found {
  std::string object;
  FindingKind kind;
  std::string account;
  std::string right;
  std::vector<std::string> creatable;
};
bool operator==(const Found& a, const Found& b) {
  return a.object == b.object && a.kind == b.kind && a.account == b.account &&
         a.right == b.right && a.creatable == b.creatable;
}
void PrintTo(const Found& f, std::ostream* os) {
  *os << "{" << f.object << ", " << static_cast<int>(f.kind) << ", "
      << f.account << ", " << f.right << ", +" << f.creatable.size() << "}";
}

// The whole audit over an emulated machine: which objects it reads, what
// counts on each, and the findings that only it makes.
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
  // A machine as installed: the agent by its MSI package under Program
  // Files, its configuration by an elevated installer under ProgramData, the
  // watchdog by its MSI package.
  static void Install(const char* root) {
    fakes::Security().files.clear();
    for (const auto& object : std::vector<std::pair<std::string, const char*>>{
             {"C:\\", root},
             {"C:\\Program Files", kProgramFiles},
             {"C:\\Program Files\\QUENTAR", kMsiFolder},
             {"C:\\Program Files\\QUENTAR\\Agent", kMsiFolder},
             {kAgentExe, kMsiFile},
             {"C:\\Program Files\\QUENTAR\\Monitor", kMsiFolder},
             {kWatchdog, kMsiFile},
             {"C:\\Program Files\\QUENTAR\\Monitor\\didurozir-messages.dll",
              kMsiFile},
             {"C:\\ProgramData", kProgramData},
             {"C:\\ProgramData\\QUENTAR", kInstallerDataFolder},
             {kConfigFolder, kInstallerDataFolder},
             {Conf(kConfigFolder), kInstallerDataFile},
             {"C:\\Windows", kProgramFiles},
             {"C:\\Windows\\System32", kProgramFiles},
             {"D:\\", kDataVolumeRoot}}) {
      Set(object.first, object.second);
    }
    auto& keys = fakes::Security().keys;
    keys[kServiceKeyPath] = fakes::ParseSddl(kServiceKey);
    keys[kProductKeyPath] = fakes::ParseSddl(kSoftwareKey);
    keys["SYSTEM\\CurrentControlSet\\Services\\didurozir"] =
        fakes::ParseSddl(kServiceKey);
  }
};

struct LayoutCase {
  const char* name;
  const char* root;  // C:\ of a client or of a server
  std::string imagePath;
  std::string configFolder;
  std::vector<std::pair<std::string, std::string>> changed;  // "" removes
  std::vector<Found> expected;
  const char* agentKey = kServiceKey;
};

// `sddl` with `sid` as its owner.
std::string OwnedBy(const std::string& sid, const std::string& sddl) {
  return "O:" + sid + sddl.substr(sddl.find("D:"));
}

// The table is the test: stock layouts give no finding but what is really
// writable, and each weak layout is found with the right named.
TEST_F(AuditLocationsTest, RealWindowsDescriptors) {
  const std::string users = "BUILTIN\\Users (S-1-5-32-545)";
  const std::string authenticated =
      "NT AUTHORITY\\Authenticated Users (S-1-5-11)";
  const std::string alice = std::string("VM\\alice (") + kAlice + ")";
  const std::string quoted = std::string("\"") + kAgentExe + "\" -service";
  const std::string serviceKey =
      std::string("HKEY_LOCAL_MACHINE\\") + kServiceKeyPath;
  // Users may add files to the configuration folder an elevated installer
  // leaves in ProgramData: a real way to plant server.conf, which stays.
  const Found configFolder{
      kConfigFolder, FindingKind::kWritable, users, "add file", {}};
  const LayoutCase cases[] = {
      {"a client as installed",
       kClientRoot,
       quoted,
       kConfigFolder,
       {},
       {configFolder}},
      {"a server as installed",
       kServerRoot,
       quoted,
       kConfigFolder,
       {},
       {configFolder}},
      {"the configuration folder, above the agent's own, in both roles",
       kClientRoot,
       "C:\\ProgramData\\QUENTAR\\Agent\\bin\\riduvuruz.exe",
       kConfigFolder,
       {{"C:\\ProgramData\\QUENTAR\\Agent\\bin", kInstallerDataFolder},
        {"C:\\ProgramData\\QUENTAR\\Agent\\bin\\riduvuruz.exe",
         kInstallerDataFile}},
       {{"C:\\ProgramData\\QUENTAR\\Agent\\bin",
         FindingKind::kWritable,
         users,
         "add file",
         {}},
        configFolder}},
      {"the agent in System32",
       kClientRoot,
       "C:\\Windows\\System32\\riduvuruz.exe",
       "",
       {{"C:\\Windows\\System32\\riduvuruz.exe", kSystem32File}},
       {}},
      {"the agent in a protected folder on a data volume, whose root may "
       "not be deleted",
       kClientRoot,
       "D:\\Agent\\riduvuruz.exe",
       "",
       {{"D:\\Agent", kProtectedFolder},
        {"D:\\Agent\\riduvuruz.exe", kProtectedFile}},
       {}},
      {"a file in C:\\ of a client",
       kClientRoot,
       "C:\\riduvuruz.exe",
       "",
       {{"C:\\riduvuruz.exe", kClientRootFile}},
       {{"C:\\riduvuruz.exe",
         FindingKind::kWritable,
         authenticated,
         "write data, append data, delete",
         {}}}},
      {"a file in C:\\ of a server",
       kServerRoot,
       "C:\\riduvuruz.exe",
       "",
       {{"C:\\riduvuruz.exe", kServerRootFile}},
       {}},
      {"a folder made under C:\\ of a client",
       kClientRoot,
       "C:\\Agent\\riduvuruz.exe",
       "",
       {{"C:\\Agent", kClientRootFolder},
        {"C:\\Agent\\riduvuruz.exe", kClientRootFile}},
       {{"C:\\Agent\\riduvuruz.exe",
         FindingKind::kWritable,
         authenticated,
         "write data, append data, delete",
         {}},
        {"C:\\Agent",
         FindingKind::kWritable,
         authenticated,
         "add file, delete",
         {}}}},
      {"a folder made under C:\\ of a server",
       kServerRoot,
       "C:\\Agent\\riduvuruz.exe",
       "",
       {{"C:\\Agent", kServerRootFolder},
        {"C:\\Agent\\riduvuruz.exe", kServerRootFile}},
       {{"C:\\Agent", FindingKind::kWritable, users, "add file", {}}}},
      {"an unquoted path with a space in Program Files",
       kClientRoot,
       std::string(kAgentExe) + " -service",
       "",
       {},
       {{serviceKey, FindingKind::kUnquotedPath, "", "", {}}}},
      {"an unquoted path whose candidate may be created",
       kClientRoot,
       "C:\\Agent\\QUENTAR Agent\\riduvuruz.exe",
       "",
       {{"C:\\Agent", kClientRootFolder},
        {"C:\\Agent\\QUENTAR Agent", kProtectedFolder},
        {"C:\\Agent\\QUENTAR Agent\\riduvuruz.exe", kProtectedFile}},
       {{"C:\\Agent",
         FindingKind::kWritable,
         authenticated,
         "add file, delete",
         {"C:\\Agent\\QUENTAR.exe"}},
        {serviceKey, FindingKind::kUnquotedPath, "", "", {}}}},
      {"Everyone Full Control on a service key",
       kServerRoot,
       quoted,
       "",
       {},
       {{serviceKey,
         FindingKind::kWritable,
         "Everyone (S-1-1-0)",
         "set value, create subkey, delete, change permissions, take "
         "ownership",
         {}}},
       kEveryoneKey},
      {"a file owned by a user",
       kClientRoot,
       quoted,
       "",
       {{kAgentExe, OwnedBy(kAlice, kMsiFile)}},
       {{kAgentExe, FindingKind::kUntrustedOwner, alice, "", {}}}},
      {"a file owned by a user whom OWNER RIGHTS lets read it only",
       kClientRoot,
       quoted,
       "",
       {{kAgentExe, OwnedBy(kAlice, kMsiFile) + "(A;;0x1200a9;;;OW)"}},
       {}},
      {"a missing agent folder on a client",
       kClientRoot,
       "C:\\Agent\\riduvuruz.exe",
       "",
       {},
       {{"C:\\",
         FindingKind::kWritable,
         authenticated,
         "add subfolder",
         {"C:\\Agent"}}}},
      {"a missing agent folder on a server",
       kServerRoot,
       "C:\\Agent\\bin\\riduvuruz.exe",
       "",
       {},
       {{"C:\\",
         FindingKind::kWritable,
         users,
         "add subfolder",
         {"C:\\Agent"}}}},
      {"a missing configuration folder",
       kServerRoot,
       quoted,
       kConfigFolder,
       {{"C:\\ProgramData\\QUENTAR", ""},
        {kConfigFolder, ""},
        {Conf(kConfigFolder), ""}},
       {{"C:\\ProgramData",
         FindingKind::kWritable,
         users,
         "add subfolder",
         {"C:\\ProgramData\\QUENTAR"}}}},
      {"a missing server.conf",
       kClientRoot,
       quoted,
       kConfigFolder,
       {{Conf(kConfigFolder), ""}},
       {{kConfigFolder,
         FindingKind::kWritable,
         users,
         "add file",
         {Conf(kConfigFolder)}}}},
  };
  for (const LayoutCase& c : cases) {
    Install(c.root);
    fakes::Security().keys[kServiceKeyPath] = fakes::ParseSddl(c.agentKey);
    for (const auto& change : c.changed) {
      if (change.second.empty()) {
        fakes::Security().files.erase(change.first);
      } else {
        Set(change.first, change.second);
      }
    }
    std::vector<Found> found;
    for (const audit::Finding& finding :
         audit::AuditLocations(c.imagePath, c.configFolder, kWatchdog)) {
      found.push_back({finding.object, finding.kind, finding.account,
                       finding.right, finding.creatable});
    }
    EXPECT_EQ(found, c.expected) << c.name;
  }
}

constexpr char kSafe[] = "O:SYD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
constexpr char kUsersWrite[] = "O:SYD:(A;;FA;;;SY)(A;;0x1301ff;;;BU)";

TEST_F(AuditLocationsTest, EveryTrustedObjectIsChecked) {
  const std::string conf = Conf("C:\\Conf");
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
          "C:\\Agent\\riduvuruz.exe", "C:\\Agent", "C:\\", conf, "C:\\Conf",
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
  EXPECT_EQ(findings[0].detail, imagePath);
  EXPECT_EQ(audit::FindingText(findings[0]),
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\"
            "riduvuruz: ImagePath " +
                imagePath +
                " is not quoted and has a space in the program's path, so "
                "Windows tries C:\\Program.exe first (CWE-428). Remedy: sc "
                "config riduvuruz binPath= \"\\\"C:\\Program Files\\Q "
                "Agent\\riduvuruz.exe\\\" -service\"");
  // Quotes among the arguments reach the registry as quotes.
  EXPECT_EQ(
      audit::AuditLocations(program + " -config \"C:\\Q Conf\\\\\"", "", "")[0]
          .remedy,
      "sc config riduvuruz binPath= \"\\\"C:\\Program Files\\Q "
      "Agent\\riduvuruz.exe\\\" -config \\\"C:\\Q Conf\\\\\\\\\\\"\"");

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
  // The program is the first text that names an .exe: an argument that names
  // one too is no program Windows would try first.
  EXPECT_TRUE(audit::AuditLocations(
                  "C:\\Agent\\riduvuruz.exe -tool C:\\Agent\\x.exe", "", "")
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
  audit::Finding creates{FindingKind::kWritable, "C:\\",
                         "NT AUTHORITY\\Authenticated Users (S-1-5-11)",
                         "add subfolder", "mkdir ..."};
  creates.creatable = {"C:\\Agent"};
  EXPECT_EQ(audit::FindingText(creates),
            "C:\\: NT AUTHORITY\\Authenticated Users (S-1-5-11) may add "
            "subfolder, and is not a trusted account; C:\\Agent does not "
            "exist, and it may create it. Remedy: mkdir ...");
  creates.kind = FindingKind::kUnknownMembership;
  creates.creatable.push_back("C:\\Conf");
  EXPECT_EQ(audit::FindingText(creates),
            "C:\\: NT AUTHORITY\\Authenticated Users (S-1-5-11) may add "
            "subfolder, and whether it is a member of Administrators cannot "
            "be determined; C:\\Agent and C:\\Conf do not exist, and it may "
            "create them. Remedy: mkdir ...");
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
