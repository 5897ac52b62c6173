#include <windows.h>

#include "run.h"
#include "support.h"

const char kConsoleNewline[] = "\r\n";

namespace {

// Quotes an argument so that the C runtime's parser gives it back unchanged.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, creation,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool CanUseTerminal() { return false; }

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& cwd, const Input& input) {
  ScratchDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  std::string inPath = "NUL";
  if (input.kind == Input::Bytes) {
    inPath = capture / "in";
    WriteBytes(inPath, input.bytes);
  }
  std::string commandLine = Quote(program);
  for (const std::string& a : args) commandLine += " " + Quote(a);

  HANDLE in = OpenInheritable(inPath, GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenInheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  Outcome outcome;
  if (CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                     cwd.c_str(), &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(pi.hProcess, &code)) outcome.status = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  outcome.out = ReadBytes(outPath);
  outcome.err = ReadBytes(errPath);
  return outcome;
}

int64_t ModificationTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

void SetOldModificationTime(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME day = {2000, 1, 6, 1, 0, 0, 0, 0};
  FILETIME time;
  SystemTimeToFileTime(&day, &time);
  SetFileTime(h, nullptr, &time, &time);
  CloseHandle(h);
}

bool MakeSymbolicLink(const std::string&, const std::string&) { return false; }

bool MakeHardLink(const std::string& target, const std::string& link) {
  return CreateHardLinkA(link.c_str(), target.c_str(), nullptr) != 0;
}
