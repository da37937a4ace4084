#include "fakes/fake_security.h"

#include <cctype>
#include <stdexcept>

namespace fakes {
namespace {

const std::map<std::string, std::string>& SidAliases() {
  static const std::map<std::string, std::string> aliases = {
      {"SY", "S-1-5-18"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
      {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"WD", "S-1-1-0"},
      {"AU", "S-1-5-11"},     {"IU", "S-1-5-4"},      {"AN", "S-1-5-7"},
      {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},     {"CO", "S-1-3-0"},
      {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"},      {"AC", "S-1-15-2-1"},
  };
  return aliases;
}

const std::map<std::string, std::uint32_t>& RightAliases() {
  static const std::map<std::string, std::uint32_t> aliases = {
      {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000},
      {"GX", 0x20000000}, {"FA", 0x001F01FF}, {"FR", 0x00120089},
      {"FW", 0x00120116}, {"FX", 0x001200A0}, {"KA", 0x000F003F},
      {"KR", 0x00020019}, {"KW", 0x00020006}, {"KX", 0x00020019},
      {"SD", 0x00010000}, {"RC", 0x00020000}, {"WD", 0x00040000},
      {"WO", 0x00080000}, {"CC", 0x00000001}, {"DC", 0x00000002},
      {"LC", 0x00000004}, {"SW", 0x00000008}, {"RP", 0x00000010},
      {"WP", 0x00000020}, {"DT", 0x00000040}, {"LO", 0x00000080},
      {"CR", 0x00000100},
  };
  return aliases;
}

[[noreturn]] void Fail(const std::string& sddl, const std::string& why) {
  throw std::invalid_argument("SDDL \"" + sddl + "\": " + why);
}

std::string ParseSid(const std::string& text, const std::string& sddl) {
  if (text.compare(0, 2, "S-") == 0) return text;
  const auto alias = SidAliases().find(text);
  if (alias == SidAliases().end()) Fail(sddl, "unknown SID " + text);
  return alias->second;
}

std::uint32_t ParseRights(const std::string& text, const std::string& sddl) {
  if (text.compare(0, 2, "0x") == 0) {
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
  }
  if (text.size() % 2 != 0) Fail(sddl, "rights " + text);
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto alias = RightAliases().find(text.substr(i, 2));
    if (alias == RightAliases().end()) Fail(sddl, "rights " + text);
    mask |= alias->second;
  }
  return mask;
}

std::uint8_t ParseFlags(const std::string& text, const std::string& sddl) {
  static const std::map<std::string, std::uint8_t> flags = {
      {"OI", platform::kObjectInheritAce},
      {"CI", platform::kContainerInheritAce},
      {"NP", platform::kNoPropagateInheritAce},
      {"IO", platform::kInheritOnlyAce},
      {"ID", platform::kInheritedAce},
  };
  if (text.size() % 2 != 0) Fail(sddl, "flags " + text);
  std::uint8_t value = 0;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto flag = flags.find(text.substr(i, 2));
    if (flag == flags.end()) Fail(sddl, "flags " + text);
    value |= flag->second;
  }
  return value;
}

// "type;flags;rights;object type;inherited object type;sid"
platform::AccessEntry ParseAce(const std::string& text,
                               const std::string& sddl) {
  std::vector<std::string> fields(1);
  for (const char c : text) {
    if (c == ';') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (fields.size() != 6) Fail(sddl, "entry " + text);
  platform::AccessEntry entry;
  entry.type = fields[0] == "A" || fields[0] == "OA" ? platform::AceType::kAllow
               : fields[0] == "D" || fields[0] == "OD"
                   ? platform::AceType::kDeny
                   : platform::AceType::kOther;
  entry.objectTypePresent = !fields[3].empty();
  entry.flags = ParseFlags(fields[1], sddl);
  entry.mask = ParseRights(fields[2], sddl);
  entry.sid = ParseSid(fields[5], sddl);
  return entry;
}

}  // namespace

platform::SecurityRecord ParseSddl(const std::string& sddl) {
  platform::SecurityRecord record;
  std::size_t at = 0;
  if (sddl.compare(0, 2, "O:") == 0) {
    const std::size_t end = sddl.find(':', 2);
    // The owner runs up to the next part's "X:".
    const std::size_t owner_end =
        end == std::string::npos ? sddl.size() : end - 1;
    record.ownerSid = ParseSid(sddl.substr(2, owner_end - 2), sddl);
    at = owner_end;
  }
  if (sddl.compare(at, 2, "D:") != 0) Fail(sddl, "no DACL part");
  at += 2;
  if (sddl.compare(at, std::string::npos, "NO_ACCESS_CONTROL") == 0) {
    return record;
  }
  record.hasDacl = true;
  // DACL flags (P, AI, AR) before the first entry change nothing here.
  while (at < sddl.size() &&
         std::isupper(static_cast<unsigned char>(sddl[at]))) {
    ++at;
  }
  while (at < sddl.size()) {
    if (sddl[at] != '(') Fail(sddl, "expected '('");
    const std::size_t close = sddl.find(')', at);
    if (close == std::string::npos) Fail(sddl, "unclosed entry");
    record.dacl.push_back(ParseAce(sddl.substr(at + 1, close - at - 1), sddl));
    at = close + 1;
  }
  return record;
}

SecurityFake& Security() {
  static SecurityFake* fake = new SecurityFake;
  return *fake;
}

}  // namespace fakes

namespace platform {

SecurityReadResult ReadSecurity(SecuredObject kind, const std::string& name,
                                SecurityRecord* record, std::uint32_t* error) {
  fakes::SecurityFake& fake = fakes::Security();
  if (fake.onRead) fake.onRead();
  *error = 0;
  const auto unreadable = fake.unreadable.find(name);
  if (unreadable != fake.unreadable.end()) {
    *error = unreadable->second;
    return unreadable->second == 5 ? SecurityReadResult::kDenied
                                   : SecurityReadResult::kFailed;
  }
  const auto& objects =
      kind == SecuredObject::kRegistryKey ? fake.keys : fake.files;
  const auto object = objects.find(name);
  if (object == objects.end()) {
    *error = 2;
    return SecurityReadResult::kNotFound;
  }
  *record = object->second;
  return SecurityReadResult::kRead;
}

std::string AccountName(const std::string& sid) {
  const auto name = fakes::Security().names.find(sid);
  return name == fakes::Security().names.end() ? std::string() : name->second;
}

Membership AdministratorsMembership(const std::string& sid) {
  fakes::SecurityFake& fake = fakes::Security();
  fake.membershipAsked.push_back(sid);
  const auto membership = fake.membership.find(sid);
  return membership == fake.membership.end() ? Membership::kNotMember
                                             : membership->second;
}

}  // namespace platform
