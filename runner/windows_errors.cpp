#include "windows_errors.h"

namespace launch {

ReturnCode StatusForStartError(std::uint32_t WindowsError) {
  switch (WindowsError) {
  // Not found: the name leads nowhere.
  case 2:   // ERROR_FILE_NOT_FOUND
  case 3:   // ERROR_PATH_NOT_FOUND
  case 53:  // ERROR_BAD_NETPATH
  case 67:  // ERROR_BAD_NET_NAME
  case 123: // ERROR_INVALID_NAME
  case 161: // ERROR_BAD_PATHNAME
  case 206: // ERROR_FILENAME_EXCED_RANGE
    return kStatusNotFound;
  // Found, but Windows will not run it: no access, not a program for this
  // system, or refused by a policy or a virus scanner.
  case 5:    // ERROR_ACCESS_DENIED
  case 11:   // ERROR_BAD_FORMAT
  case 32:   // ERROR_SHARING_VIOLATION
  case 129:  // ERROR_CHILD_NOT_COMPLETE: cannot be run in Win32 mode
  case 188:  // ERROR_INVALID_STARTING_CODESEG, and on to
  case 189:  // ERROR_INVALID_STACKSEG
  case 190:  // ERROR_INVALID_MODULETYPE
  case 191:  // ERROR_INVALID_EXE_SIGNATURE
  case 192:  // ERROR_EXE_MARKED_INVALID
  case 193:  // ERROR_BAD_EXE_FORMAT
  case 194:  // ERROR_ITERATED_DATA_EXCEEDS_64k
  case 195:  // ERROR_INVALID_MINALLOCSIZE
  case 196:  // ERROR_DYNLINK_FROM_INVALID_RING
  case 197:  // ERROR_IOPL_NOT_ENABLED
  case 198:  // ERROR_INVALID_SEGDPL
  case 199:  // ERROR_AUTODATASEG_EXCEEDS_64k
  case 200:  // ERROR_RING2SEG_MUST_BE_MOVABLE
  case 201:  // ERROR_RELOC_CHAIN_XEEDS_SEGLIM
  case 202:  // ERROR_INFLOOP_IN_RELOC_CHAIN: all malformed executables
  case 216:  // ERROR_EXE_MACHINE_TYPE_MISMATCH
  case 225:  // ERROR_VIRUS_INFECTED
  case 226:  // ERROR_VIRUS_DELETED
  case 577:  // ERROR_INVALID_IMAGE_HASH: signature cannot be verified
  case 740:  // ERROR_ELEVATION_REQUIRED
  case 786:  // ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY: software restriction
  case 1151: // ERROR_APP_WRONG_OS
  case 1152: // ERROR_SINGLE_INSTANCE_APP
  case 1153: // ERROR_RMODE_APP
  case 1259: // ERROR_APPHELP_BLOCK: blocked for compatibility
  case 1260: // ERROR_ACCESS_DISABLED_BY_POLICY: AppLocker, software restriction
  case 1920: // ERROR_CANT_ACCESS_FILE
  case 4551: // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION: App Control (WDAC)
  case 4556: // ERROR_SYSTEM_INTEGRITY_REPUTATION_MALICIOUS: Smart App Control
  case 4557: // ERROR_SYSTEM_INTEGRITY_REPUTATION_PUA
  case 4558: // ERROR_SYSTEM_INTEGRITY_REPUTATION_DANGEROUS_EXT
  case 4559: // ERROR_SYSTEM_INTEGRITY_REPUTATION_OFFLINE
    return kStatusCannotRun;
  default: // ERROR_DIRECTORY (267), ERROR_NOT_ENOUGH_MEMORY (8), ERROR_OUTOFMEMORY (14), ...
    return kStatusLauncherFailed;
  }
}

const wchar_t* KnownExceptionMeaning(std::uint32_t Code) {
  switch (Code) {
  case 0xC0000005: // STATUS_ACCESS_VIOLATION
    return L"access violation";
  case 0xC00000FD: // STATUS_STACK_OVERFLOW
    return L"stack overflow";
  case 0xC000001D: // STATUS_ILLEGAL_INSTRUCTION
    return L"illegal instruction";
  case 0xC0000094: // STATUS_INTEGER_DIVIDE_BY_ZERO
    return L"integer divide by zero";
  case 0xC0000374: // STATUS_HEAP_CORRUPTION
    return L"heap corruption";
  case 0xC0000409: // STATUS_STACK_BUFFER_OVERRUN, also every fail-fast end
    return L"stack buffer overrun";
  case 0xC0000135: // STATUS_DLL_NOT_FOUND
    return L"DLL not found";
  case 0xC0000139: // STATUS_ENTRYPOINT_NOT_FOUND
    return L"entry point not found";
  case 0xC0000142: // STATUS_DLL_INIT_FAILED
    return L"DLL initialization failed";
  default:
    return nullptr;
  }
}

std::wstring ExceptionMeaningFromMessage(std::wstring_view Message) {
  constexpr std::wstring_view Blanks = L" \t\r\n";
  std::wstring_view Caption;
  const std::size_t Lead = Message.find_first_not_of(Blanks);
  if (Lead != std::wstring_view::npos && Message[Lead] == L'{') {
    const std::size_t Close = Message.find(L'}', Lead);
    Caption = Message.substr(Lead + 1, Close == std::wstring_view::npos ? 0 : Close - Lead - 1);
    Message.remove_prefix(Close == std::wstring_view::npos ? Message.size() : Close + 1);
  }
  std::wstring Sentence;
  for (const wchar_t C : Message) {
    const bool Blank = Blanks.find(C) != std::wstring_view::npos;
    if (Blank && !Sentence.empty() && Sentence.back() == L'.') {
      break;
    }
    if (!Blank || (!Sentence.empty() && Sentence.back() != L' ')) {
      Sentence.push_back(Blank ? L' ' : C);
    }
  }
  while (!Sentence.empty() && (Sentence.back() == L' ' || Sentence.back() == L'.')) {
    Sentence.pop_back();
  }
  if (Sentence.empty() || Sentence.find(L'%') != std::wstring::npos) {
    return std::wstring(Caption);
  }
  return Sentence;
}

} // namespace launch
