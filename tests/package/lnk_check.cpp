// Reads a shortcut (.lnk) the way Explorer does and prints, in UTF-8, one
// line each:
//   target=PATH
//   arguments=TEXT
//   workdir=PATH
// Usage: quenlat_lnk_check LINK. Exit code 0 when the shortcut was read, 1
// when it could not be, 2 on bad usage.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, NULL, NULL);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == NULL || argc != 2) {
    std::fprintf(stderr, "usage: quenlat_lnk_check LINK\n");
    return 2;
  }
  if (FAILED(::CoInitialize(NULL))) return 1;
  IShellLinkW* link = NULL;
  IPersistFile* file = NULL;
  int status = 1;
  if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(argv[1], STGM_READ))) {
    wchar_t target[MAX_PATH] = L"";
    wchar_t arguments[INFOTIPSIZE] = L"";
    wchar_t workdir[MAX_PATH] = L"";
    // No resolving: the shortcut's own text, not a file the system looks for.
    if (SUCCEEDED(link->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH)) &&
        SUCCEEDED(link->GetArguments(arguments, INFOTIPSIZE)) &&
        SUCCEEDED(link->GetWorkingDirectory(workdir, MAX_PATH))) {
      std::printf("target=%s\narguments=%s\nworkdir=%s\n", Utf8(target).c_str(),
                  Utf8(arguments).c_str(), Utf8(workdir).c_str());
      status = 0;
    }
  }
  if (status != 0) std::fprintf(stderr, "cannot read the shortcut\n");
  if (file != NULL) file->Release();
  if (link != NULL) link->Release();
  ::CoUninitialize();
  return status;
}
