// Shell links through the shell's own link object.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/os/codepage.h"
#include "platform/os/durable.h"
#include "platform/os/fault.h"
#include "platform/os/shelllink.h"

namespace zuv::os {
namespace {

// COM for the calling thread, for as long as the object lives.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

template <class T>
class Com {
 public:
  ~Com() {
    if (p) p->Release();
  }
  T* p = nullptr;
};

}  // namespace

bool create_shell_link(const std::string& link_file, const ShellLink& link) {
  ComScope com;
  Com<IShellLinkW> sl;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&sl.p))))
    return false;
  if (FAILED(sl.p->SetPath(widen(link.target).c_str()))) return false;
  if (!link.working_dir.empty() && FAILED(sl.p->SetWorkingDirectory(widen(link.working_dir).c_str()))) return false;
  if (!link.arguments.empty() && FAILED(sl.p->SetArguments(widen(link.arguments).c_str()))) return false;
  if (!link.description.empty() && FAILED(sl.p->SetDescription(widen(link.description).c_str()))) return false;
  Com<IPersistFile> pf;
  if (FAILED(sl.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf.p)))) return false;
  const std::string tmp = link_file + kNewSuffix;
  if (fault::check(fault::Op::Create) || fault::check(fault::Op::Write)) return false;
  if (FAILED(pf.p->Save(widen(tmp).c_str(), TRUE))) {
    DeleteFileW(widen(tmp).c_str());
    return false;
  }
  return replace_durably(tmp, link_file).ok();
}

std::optional<ShellLink> read_shell_link(const std::string& link_file) {
  ComScope com;
  Com<IShellLinkW> sl;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&sl.p))))
    return std::nullopt;
  Com<IPersistFile> pf;
  if (FAILED(sl.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf.p)))) return std::nullopt;
  if (FAILED(pf.p->Load(widen(link_file).c_str(), STGM_READ))) return std::nullopt;
  ShellLink link;
  wchar_t buf[INFOTIPSIZE + 1];
  buf[0] = 0;
  // The item list holds the target in Unicode; the path that GetPath gives may come
  // from the link's ANSI copy, where letters outside the system code page are lost.
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (SUCCEEDED(sl.p->GetIDList(&pidl)) && pidl) {
    wchar_t full[MAX_PATH] = {};
    if (SHGetPathFromIDListW(pidl, full)) link.target = narrow(full);
    CoTaskMemFree(pidl);
  }
  if (link.target.empty() && SUCCEEDED(sl.p->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH)))
    link.target = narrow(buf);
  buf[0] = 0;
  if (SUCCEEDED(sl.p->GetWorkingDirectory(buf, MAX_PATH))) link.working_dir = narrow(buf);
  buf[0] = 0;
  if (SUCCEEDED(sl.p->GetArguments(buf, INFOTIPSIZE))) link.arguments = narrow(buf);
  buf[0] = 0;
  if (SUCCEEDED(sl.p->GetDescription(buf, INFOTIPSIZE))) link.description = narrow(buf);
  return link;
}

}  // namespace zuv::os
