#include <windows.h>
#include <commctrl.h>

#include <map>

#include "platform/gui/win32_window.h"
#include "platform/os/codepage.h"

namespace zuv::gui {

using namespace win32;

namespace {

enum { kOk = 3001, kCancel = 3002, kPath = 3003, kTree = 3004 };
enum { kMenuChoose = 3101, kMenuToggle, kMenuNew, kMenuRename, kMenuDelete };

class ChooserWindow : public Window {
 public:
  ChooserWindow(Win32Frontend& fe, DirChooserControl& c) : fe_(fe), c_(c) {
    font_ = make_font(L"Arial", 8, false, false);
    bold_ = make_font(L"Arial", 10, true, false);
    Where ref = fe.reference();
    const int u = DirChooserControl::kUnit;
    int w = DirChooserControl::kWidth, h = DirChooserControl::height_for(ref.height);
    // 12 pixels inside the parent's left and top edges.
    Point pos{ref.x + u, ref.y + ref.height - u - h};
    create(WS_EX_TOPMOST | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT,
           WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN, "Wybierz katalog",
           fe.to_screen(pos, {w, h}), fe.app_window());
    set_icon(2107);
    RECT r;
    GetWindowRect(hwnd(), &r);
    min_ = {r.right - r.left, r.bottom - r.top};
    tree_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                            0, 0, 10, 10, hwnd(), reinterpret_cast<HMENU>(kTree), instance(), nullptr);
    path_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                            0, 0, 10, 10, hwnd(), reinterpret_cast<HMENU>(kPath), instance(), nullptr);
    SendMessageW(path_, EM_SETLIMITTEXT, 256, 0);
    SendMessageW(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    SendMessageW(path_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    ok_ = add_button("OK", kOk, 0, 0, 8 * u, 2 * u, bold_);
    cancel_ = add_button("Rezygnuję", kCancel, 0, 0, 8 * u, 2 * u, bold_);
    images_ = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 10, 2);
    for (int id = 2099; id <= 2106; ++id) {
      HICON ic = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
      index_[id] = ic ? ImageList_AddIcon(images_, ic) : -1;
    }
    TreeView_SetImageList(tree_, images_, TVSIL_NORMAL);
    fit();
  }
  ~ChooserWindow() override {
    destroy();
    if (images_) ImageList_Destroy(images_);
    DeleteObject(font_);
    DeleteObject(bold_);
  }

  void run() {
    rebuild();
    show();
    SetForegroundWindow(hwnd());
    SetFocus(tree_);
    if (auto it = items_.find(c_.marked()); it != items_.end()) TreeView_EnsureVisible(tree_, it->second);
    MSG m;
    while (!c_.done()) {
      if (!GetMessageW(&m, nullptr, 0, 0)) {
        PostQuitMessage(static_cast<int>(m.wParam));
        c_.cancel();
        break;
      }
      if (m.message == WM_KEYDOWN && (m.hwnd == hwnd() || IsChild(hwnd(), m.hwnd))) {
        bool handled = true;
        switch (m.wParam) {
          case VK_RETURN: command(kOk); break;
          case VK_ESCAPE: command(kCancel); break;
          case VK_SPACE:
            if (m.hwnd == path_) handled = false;
            else { SetFocus(tree_); command(kMenuToggle); }
            break;
          case VK_INSERT: command(kMenuNew); break;
          default: handled = false;
        }
        if (handled) continue;
      }
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    ShowWindow(hwnd(), SW_HIDE);
  }

 protected:
  LRESULT on_message(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case WM_COMMAND:
        if (LOWORD(w) == kPath && HIWORD(w) == EN_CHANGE && !syncing_) {
          c_.set_path_text(text_of(path_));
        } else if (HIWORD(w) == BN_CLICKED || HIWORD(w) == 0) {
          command(LOWORD(w));
        }
        return 0;
      case WM_NOTIFY: {
        auto* nm = reinterpret_cast<NMHDR*>(l);
        if (nm->idFrom != kTree) break;
        if (nm->code == TVN_ITEMEXPANDINGW) {
          auto* tv = reinterpret_cast<NMTREEVIEWW*>(l);
          auto* node = reinterpret_cast<DirNode*>(tv->itemNew.lParam);
          if (tv->action == TVE_EXPAND) {
            c_.getDownTree(node);
            node->expanded = true;
            add_children(tv->itemNew.hItem, node);
          } else {
            node->expanded = false;
          }
          return 0;
        }
        if (nm->code == TVN_SELCHANGEDW && !syncing_) {
          auto* tv = reinterpret_cast<NMTREEVIEWW*>(l);
          c_.mark(reinterpret_cast<DirNode*>(tv->itemNew.lParam));
          add_children(tv->itemNew.hItem, c_.marked());
          show_path();
          return 0;
        }
        if (nm->code == NM_RCLICK) {
          context_menu();
          return 1;
        }
        break;
      }
      case WM_GETMINMAXINFO: {
        auto* mm = reinterpret_cast<MINMAXINFO*>(l);
        if (min_.w) mm->ptMinTrackSize = {min_.w, min_.h};
        return 0;
      }
      case WM_SIZE:
        fit();
        return 0;
      case WM_CLOSE:
        c_.cancel();
        return 0;
      default:
        break;
    }
    return Window::on_message(msg, w, l);
  }

 private:
  static std::string text_of(HWND h) {
    std::wstring w(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
    GetWindowTextW(h, w.data(), static_cast<int>(w.size()));
    w.resize(wcslen(w.c_str()));
    return os::narrow(w);
  }

  // NEW_SIZE: the tree and the field follow the window; the buttons keep their places
  // above the bottom edge.
  void fit() {
    if (!tree_) return;
    RECT c;
    GetClientRect(hwnd(), &c);
    const int u = DirChooserControl::kUnit, W = c.right, H = c.bottom;
    MoveWindow(ok_, u, H - u - 2 * u, 8 * u, 2 * u, TRUE);
    MoveWindow(cancel_, 10 * u, H - u - 2 * u, 8 * u, 2 * u, TRUE);
    MoveWindow(path_, u, H - 4 * u - 2 * u, W - 2 * u, 2 * u, TRUE);
    MoveWindow(tree_, u, u, W - 2 * u, H - 8 * u, TRUE);
  }

  HTREEITEM insert(HTREEITEM parent, DirNode* n) {
    TVINSERTSTRUCTW ins{};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    std::wstring cap = os::widen(n->caption);
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.pszText = cap.data();
    ins.item.lParam = reinterpret_cast<LPARAM>(n);
    ins.item.cChildren = (!n->loaded || !n->children.empty()) ? 1 : 0;
    ins.item.iImage = image(n->image_closed);
    ins.item.iSelectedImage = image(n->image_open);
    HTREEITEM h = TreeView_InsertItem(tree_, &ins);
    items_[n] = h;
    return h;
  }
  int image(int id) {
    auto it = index_.find(id);
    return it == index_.end() ? -1 : it->second;
  }

  void add_children(HTREEITEM h, DirNode* n) {
    if (!n || TreeView_GetChild(tree_, h)) return;
    for (auto& c : n->children) insert(h, c.get());
    TVITEMW it{};
    it.mask = TVIF_CHILDREN;
    it.hItem = h;
    it.cChildren = n->children.empty() ? 0 : 1;
    TreeView_SetItem(tree_, &it);
  }

  void add_tree(HTREEITEM parent, DirNode* n) {
    HTREEITEM h = insert(parent, n);
    if (n->expanded || n == c_.marked() || is_ancestor(n, c_.marked())) {
      for (auto& c : n->children) add_tree(h, c.get());
    }
    if (n->expanded) TreeView_Expand(tree_, h, TVE_EXPAND);
  }
  static bool is_ancestor(DirNode* a, DirNode* n) {
    for (; n; n = n->parent)
      if (n->parent == a) return true;
    return false;
  }

  // The tree view follows the model after anything that changed its shape.
  void rebuild() {
    syncing_ = true;
    SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree_);
    items_.clear();
    for (auto& d : c_.drives()) add_tree(TVI_ROOT, d.get());
    if (auto it = items_.find(c_.marked()); it != items_.end()) {
      TreeView_EnsureVisible(tree_, it->second);
      TreeView_SelectItem(tree_, it->second);
    }
    SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree_, nullptr, TRUE);
    syncing_ = false;
    show_path();
    generation_ = c_.generation();
  }

  void show_path() {
    syncing_ = true;
    if (text_of(path_) != c_.path_text()) SetWindowTextW(path_, os::widen(c_.path_text()).c_str());
    syncing_ = false;
  }

  void command(int id) {
    switch (id) {
      case kOk: c_.check_kat(); break;
      case kCancel: c_.cancel(); break;
      case kMenuChoose: c_.check_kat(); break;
      case kMenuToggle: {
        auto it = items_.find(c_.marked());
        if (it != items_.end()) {
          bool open = (TreeView_GetItemState(tree_, it->second, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
          TreeView_Expand(tree_, it->second, open ? TVE_COLLAPSE : TVE_EXPAND);
        }
        return;
      }
      case kMenuNew: c_.NodeEdit(true); break;
      case kMenuRename: c_.NodeEdit(false); break;
      case kMenuDelete: c_.NodeDelete(); break;
      default: return;
    }
    if (c_.done()) return;
    if (c_.generation() != generation_) rebuild();
    else show_path();
    SetFocus(tree_);
  }

  void context_menu() {
    POINT p;
    GetCursorPos(&p);
    TVHITTESTINFO hit{};
    hit.pt = p;
    ScreenToClient(tree_, &hit.pt);
    if (HTREEITEM h = TreeView_HitTest(tree_, &hit)) TreeView_SelectItem(tree_, h);
    auto it = items_.find(c_.marked());
    bool open = it != items_.end() &&
                (TreeView_GetItemState(tree_, it->second, TVIS_EXPANDED) & TVIS_EXPANDED);
    HMENU m = CreatePopupMenu();
    AppendMenuW(m, MF_STRING, kMenuChoose, L"&Wybierz");
    AppendMenuW(m, MF_STRING, kMenuToggle, open ? L"&Zwiń" : L"&Rozwiń");
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m, MF_STRING, kMenuNew, L"&Utwórz nowy");
    AppendMenuW(m, MF_STRING, kMenuRename, L"Z&mień nazwę");
    AppendMenuW(m, MF_STRING, kMenuDelete, L"&Skasuj");
    int cmd = TrackPopupMenu(m, TPM_RETURNCMD | TPM_RIGHTBUTTON, p.x, p.y, 0, hwnd(), nullptr);
    DestroyMenu(m);
    if (cmd) command(cmd);
  }

  Win32Frontend& fe_;
  DirChooserControl& c_;
  HFONT font_, bold_;
  HWND tree_ = nullptr, path_ = nullptr, ok_ = nullptr, cancel_ = nullptr;
  HIMAGELIST images_ = nullptr;
  std::map<int, int> index_;
  std::map<DirNode*, HTREEITEM> items_;
  Size min_{};
  bool syncing_ = false;
  int generation_ = -1;
};

}  // namespace

void Win32Frontend::run_dirselect(DirChooserControl& chooser, bool /*fresh*/) {
  auto& w = choosers_[&chooser];
  if (!w) w = std::make_unique<ChooserWindow>(*this, chooser);
  HWND had_focus = GetFocus();
  static_cast<ChooserWindow*>(w.get())->run();
  if (had_focus && IsWindow(had_focus)) SetFocus(had_focus);
}

void Win32Frontend::drop_dirselect(DirChooserControl& chooser) { choosers_.erase(&chooser); }

}  // namespace zuv::gui
