#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <lm.h>
#include <sddl.h>

#include <climits>
#include <cstddef>
#include <utility>

#include "platform/security.h"
#include "platform/security_win.h"

namespace platform {
namespace {

// Frees LocalAlloc'd memory that the security functions hand out.
class ScopedLocal {
 public:
  explicit ScopedLocal(void* memory = nullptr) : memory_(memory) {}
  ScopedLocal(const ScopedLocal&) = delete;
  ScopedLocal& operator=(const ScopedLocal&) = delete;
  ~ScopedLocal() {
    if (memory_ != nullptr) LocalFree(memory_);
  }

 private:
  void* memory_;
};

// Frees a buffer of the network management functions.
class ScopedNetBuffer {
 public:
  ScopedNetBuffer() = default;
  ScopedNetBuffer(const ScopedNetBuffer&) = delete;
  ScopedNetBuffer& operator=(const ScopedNetBuffer&) = delete;
  ~ScopedNetBuffer() {
    if (buffer_ != nullptr) NetApiBufferFree(buffer_);
  }
  BYTE** Out() { return &buffer_; }
  BYTE* Get() const { return buffer_; }

 private:
  BYTE* buffer_ = nullptr;
};

std::wstring FromUtf8(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], size);
  return wide;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &narrow[0], size,
                      nullptr, nullptr);
  return narrow;
}

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return std::string();
  const ScopedLocal owned(text);
  return ToUtf8(text);
}

// The account of a SID: its name, domain and kind; false when unknown.
bool LookUp(PSID sid, std::wstring* name, std::wstring* domain,
            SID_NAME_USE* use) {
  wchar_t nameBuffer[256];
  wchar_t domainBuffer[256];
  DWORD nameUnits = 256;
  DWORD domainUnits = 256;
  if (!LookupAccountSidW(nullptr, sid, nameBuffer, &nameUnits, domainBuffer,
                         &domainUnits, use)) {
    return false;
  }
  *name = nameBuffer;
  *domain = domainBuffer;
  return true;
}

SecurityReadResult ReadFailure(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
      return SecurityReadResult::kNotFound;
    case ERROR_ACCESS_DENIED:
      return SecurityReadResult::kDenied;
    default:
      return SecurityReadResult::kFailed;
  }
}

AccessEntry ReadEntry(const void* ace) {
  AccessEntry entry;
  const auto* header = static_cast<const ACE_HEADER*>(ace);
  entry.flags = header->AceFlags;
  bool objectForm = false;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      entry.type = AceType::kAllow;
      break;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      entry.type = AceType::kDeny;
      break;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
      entry.type = AceType::kAllow;
      objectForm = true;
      break;
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
      entry.type = AceType::kDeny;
      objectForm = true;
      break;
    default:
      return entry;  // another layout: no mask and SID to read
  }
  const auto* bytes = static_cast<const BYTE*>(ace);
  std::size_t sidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
  if (objectForm) {
    // The object forms share this layout, whose two GUIDs are there only
    // when their flags say so: the SID moves up when one is absent.
    const auto* object = static_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(ace);
    entry.objectTypePresent = (object->Flags & ACE_OBJECT_TYPE_PRESENT) != 0;
    sidOffset = offsetof(ACCESS_ALLOWED_OBJECT_ACE, ObjectType);
    if (entry.objectTypePresent) sidOffset += sizeof(GUID);
    if ((object->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0) {
      sidOffset += sizeof(GUID);
    }
  }
  // A SID that the entry's own size does not hold is no SID to trust. Its
  // fixed part (revision, count, authority) is 8 bytes.
  constexpr std::size_t kSidFixedPart = 8;
  PSID sid = const_cast<BYTE*>(bytes + sidOffset);
  if (sidOffset + kSidFixedPart > header->AceSize || !IsValidSid(sid) ||
      sidOffset + GetLengthSid(sid) > header->AceSize) {
    entry.type = AceType::kOther;
    return entry;
  }
  // Every one of these forms has its mask right after the header.
  entry.mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
  entry.sid = SidText(sid);
  return entry;
}

}  // namespace

SecurityReadResult ReadSecurity(SecuredObject kind, const std::string& name,
                                SecurityRecord* record, std::uint32_t* error) {
  *error = 0;
  *record = SecurityRecord();
  std::wstring path = FromUtf8(name);
  if (path.empty()) {
    *error = ERROR_INVALID_NAME;
    return SecurityReadResult::kNotFound;
  }
  if (kind == SecuredObject::kRegistryKey) path = L"MACHINE\\" + path;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD code = GetNamedSecurityInfoW(
      path.c_str(),
      kind == SecuredObject::kRegistryKey ? SE_REGISTRY_KEY : SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
      &dacl, nullptr, &descriptor);
  const ScopedLocal owned(descriptor);
  if (code != ERROR_SUCCESS) {
    *error = code;
    return ReadFailure(code);
  }
  if (owner != nullptr) record->ownerSid = SidText(owner);
  record->hasDacl = dacl != nullptr;
  if (dacl == nullptr) return SecurityReadResult::kRead;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    record->dacl.push_back(ReadEntry(ace));
  }
  return SecurityReadResult::kRead;
}

bool IsListedMember(PSID sid, const LOCALGROUP_MEMBERS_INFO_0* members,
                    DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (EqualSid(members[i].lgrmi0_sid, sid)) return true;
  }
  return false;
}

std::string AccountName(const std::string& sid) {
  PSID binary = nullptr;
  if (!ConvertStringSidToSidW(FromUtf8(sid).c_str(), &binary)) {
    return std::string();
  }
  const ScopedLocal owned(binary);
  std::wstring name;
  std::wstring domain;
  SID_NAME_USE use;
  if (!LookUp(binary, &name, &domain, &use)) return std::string();
  return ToUtf8(domain.empty() ? name : domain + L"\\" + name);
}

Membership AdministratorsMembership(const std::string& sid) {
  PSID binary = nullptr;
  if (!ConvertStringSidToSidW(FromUtf8(sid).c_str(), &binary)) {
    return Membership::kUnknown;
  }
  const ScopedLocal ownedSid(binary);
  PSID administrators = nullptr;
  if (!ConvertStringSidToSidW(L"S-1-5-32-544", &administrators)) {
    return Membership::kUnknown;
  }
  const ScopedLocal ownedAdministrators(administrators);
  // The group's name is localised ("Administratoren"); the functions below
  // want it.
  std::wstring groupName;
  std::wstring groupDomain;
  SID_NAME_USE use;
  if (!LookUp(administrators, &groupName, &groupDomain, &use)) {
    return Membership::kUnknown;
  }

  // A direct member: a user, or a group such as Domain Admins.
  {
    ScopedNetBuffer members;
    DWORD read = 0;
    DWORD total = 0;
    if (NetLocalGroupGetMembers(nullptr, groupName.c_str(), 0, members.Out(),
                                MAX_PREFERRED_LENGTH, &read, &total,
                                nullptr) == NERR_Success &&
        IsListedMember(
            binary,
            reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_0*>(members.Get()),
            read)) {
      return Membership::kMember;
    }
  }

  std::wstring name;
  std::wstring domain;
  if (!LookUp(binary, &name, &domain, &use)) return Membership::kUnknown;
  if (use == SidTypeUnknown || use == SidTypeInvalid) {
    return Membership::kUnknown;
  }
  // A group not listed directly is not counted: a domain group nested in a
  // listed one stays untrusted, and so reported.
  if (use != SidTypeUser) return Membership::kNotMember;

  // A user: its local groups, through the groups it belongs to as well.
  for (const std::wstring& userName :
       {domain.empty() ? name : domain + L"\\" + name, name}) {
    ScopedNetBuffer groups;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status = NetUserGetLocalGroups(
        nullptr, userName.c_str(), 0, LG_INCLUDE_INDIRECT, groups.Out(),
        MAX_PREFERRED_LENGTH, &read, &total);
    if (status == NERR_UserNotFound) continue;
    if (status != NERR_Success) return Membership::kUnknown;
    const auto* list =
        reinterpret_cast<const LOCALGROUP_USERS_INFO_0*>(groups.Get());
    for (DWORD i = 0; i < read; ++i) {
      if (CompareStringOrdinal(list[i].lgrui0_name, -1, groupName.c_str(), -1,
                               TRUE) == CSTR_EQUAL) {
        return Membership::kMember;
      }
    }
    return Membership::kNotMember;
  }
  return Membership::kUnknown;
}

}  // namespace platform
