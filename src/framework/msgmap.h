// Message maps: per class, a static ordered table of (message, notification
// code, control ID, handler) with a pointer to the base class's map. One
// dispatcher (CWnd::OnWndMsg) looks a message up in the class's own table
// first, then in its base's, and so on; the first matching entry handles it.
// A message that no table lists gets the window's default processing.
//
// In the class declaration:
//   DECLARE_MESSAGE_MAP()
// In the source file:
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//     ON_BN_CLICKED(IDOK, &CMyDlg::OnConvert)
//     ON_WM_PAINT()
//   END_MESSAGE_MAP()
//
// The handler names and signatures that the ON_WM_ macros expect:
//   ON_WM_PAINT()          void OnPaint()
//   ON_WM_LBUTTONDOWN()    void OnLButtonDown(UINT nFlags, CPoint point)
//   ON_WM_ERASEBKGND()     BOOL OnEraseBkgnd(CDC* pDC)
//   ON_WM_QUERYDRAGICON()  HCURSOR OnQueryDragIcon()
//   ON_WM_DROPFILES()      void OnDropFiles(HDROP hDropInfo)
//   ON_WM_ENDSESSION()     void OnEndSession(BOOL bEnding)
//   ON_WM_CLOSE()          void OnClose()
//   ON_WM_SYSCOMMAND()     void OnSysCommand(UINT nID, LPARAM lParam)
// CWnd has a default of each that gives the message its default processing,
// so a handler may end by calling the base class's version.
//   ON_COMMAND(id, fn)     void fn(): WM_COMMAND from control or menu id with
//                          notification code 0 (also a button click)
//   ON_BN_CLICKED(id, fn)  void fn(): a click on button id
//   ON_CONTROL(code, id, fn) void fn(): WM_COMMAND with that notification code
//   ON_MESSAGE(msg, fn)    LRESULT fn(WPARAM wParam, LPARAM lParam)
#ifndef QUENLAT_FRAMEWORK_MSGMAP_H
#define QUENLAT_FRAMEWORK_MSGMAP_H

#include <windows.h>
#include <shellapi.h>

#include "framework/object.h"

class CDC;
class CCmdTarget;

// A point in client coordinates, as handlers of mouse messages get it.
struct CPoint : public POINT {
  CPoint() { x = 0; y = 0; }
  CPoint(int nX, int nY) { x = nX; y = nY; }
};

// How a handler is called: the signature tag of a message-map entry.
enum MessageSig {
  MessageSig_end = 0,  // marks the end of a table
  MessageSig_v_v,      // void ()
  MessageSig_l_w_l,    // LRESULT (WPARAM, LPARAM)
  MessageSig_v_u_pt,   // void (UINT, CPoint)
  MessageSig_b_D,      // BOOL (CDC*)
  MessageSig_h_v,      // HCURSOR ()
  MessageSig_v_hdrop,  // void (HDROP)
  MessageSig_v_b,      // void (BOOL)
  MessageSig_v_u_l,    // void (UINT, LPARAM)
};

// A handler with its signature tag. The tag follows from the handler's type,
// so an entry cannot call a handler with the wrong arguments.
struct MessageHandler {
  typedef void (CCmdTarget::*PV_V)();
  typedef LRESULT (CCmdTarget::*PL_W_L)(WPARAM, LPARAM);
  typedef void (CCmdTarget::*PV_U_PT)(UINT, CPoint);
  typedef BOOL (CCmdTarget::*PB_D)(CDC*);
  typedef HCURSOR (CCmdTarget::*PH_V)();
  typedef void (CCmdTarget::*PV_HDROP)(HDROP);
  typedef void (CCmdTarget::*PV_B)(BOOL);
  typedef void (CCmdTarget::*PV_U_L)(UINT, LPARAM);

  MessageSig sig;
  union {
    PV_V v_v;
    PL_W_L l_w_l;
    PV_U_PT v_u_pt;
    PB_D b_D;
    PH_V h_v;
    PV_HDROP v_hdrop;
    PV_B v_b;
    PV_U_L v_u_l;
  };

  constexpr MessageHandler() : sig(MessageSig_end), v_v(nullptr) {}
  constexpr MessageHandler(PV_V p) : sig(MessageSig_v_v), v_v(p) {}
  constexpr MessageHandler(PL_W_L p) : sig(MessageSig_l_w_l), l_w_l(p) {}
  constexpr MessageHandler(PV_U_PT p) : sig(MessageSig_v_u_pt), v_u_pt(p) {}
  constexpr MessageHandler(PB_D p) : sig(MessageSig_b_D), b_D(p) {}
  constexpr MessageHandler(PH_V p) : sig(MessageSig_h_v), h_v(p) {}
  constexpr MessageHandler(PV_HDROP p) : sig(MessageSig_v_hdrop), v_hdrop(p) {}
  constexpr MessageHandler(PV_B p) : sig(MessageSig_v_b), v_b(p) {}
  constexpr MessageHandler(PV_U_L p) : sig(MessageSig_v_u_l), v_u_l(p) {}
};

// One entry of a class's table. For WM_COMMAND, nCode and nID are the
// notification code and control ID to match; for other messages both are 0.
struct MessageMapEntry {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  MessageHandler handler;
};

// A class's table and the way to its base class's map (null at the root).
struct MessageMap {
  const MessageMap* (*pfnGetBaseMap)();
  const MessageMapEntry* lpEntries;
};

// The root of every class that has a message map (the windows; the
// application object derives from it but dispatches no messages).
class CCmdTarget : public CObject {
 public:
  // The class's own map; the dispatcher follows its base pointers.
  virtual const MessageMap* GetMessageMap() const;

 protected:
  static const MessageMap* GetThisMessageMap();
};

#define DECLARE_MESSAGE_MAP()                        \
 protected:                                          \
  static const MessageMap* GetThisMessageMap();      \
  const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                   \
  const MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const MessageMap* theClass::GetThisMessageMap() {                              \
    using ThisClass [[maybe_unused]] = theClass;                                 \
    typedef baseClass TheBaseClass;                                              \
    static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                    \
      {0, 0, 0, MessageHandler()}};                                          \
    static const MessageMap messageMap = {&TheBaseClass::GetThisMessageMap, \
                                          &entries[0]};                      \
    return &messageMap;                                                      \
  }

// Handlers are named with their class, as in ON_COMMAND(IDOK, &CMyDlg::OnGo).
#define ON_COMMAND(id, memberFn) \
  {WM_COMMAND, 0, (UINT)(id), MessageHandler(static_cast<void (CCmdTarget::*)()>(static_cast<void (ThisClass::*)()>(memberFn)))},
#define ON_CONTROL(code, id, memberFn) \
  {WM_COMMAND, (UINT)(code), (UINT)(id), MessageHandler(static_cast<void (CCmdTarget::*)()>(static_cast<void (ThisClass::*)()>(memberFn)))},
#define ON_BN_CLICKED(id, memberFn) ON_CONTROL(BN_CLICKED, id, memberFn)
#define ON_MESSAGE(message, memberFn)                                                          \
  {(UINT)(message), 0, 0,                                                                      \
   MessageHandler(static_cast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(                        \
       static_cast<LRESULT (ThisClass::*)(WPARAM, LPARAM)>(memberFn)))},

#define ON_WM_PAINT() \
  {WM_PAINT, 0, 0, MessageHandler(static_cast<void (CCmdTarget::*)()>(static_cast<void (ThisClass::*)()>(&ThisClass::OnPaint)))},
#define ON_WM_CLOSE() \
  {WM_CLOSE, 0, 0, MessageHandler(static_cast<void (CCmdTarget::*)()>(static_cast<void (ThisClass::*)()>(&ThisClass::OnClose)))},
#define ON_WM_LBUTTONDOWN()                                                       \
  {WM_LBUTTONDOWN, 0, 0,                                                         \
   MessageHandler(static_cast<void (CCmdTarget::*)(UINT, CPoint)>(              \
       static_cast<void (ThisClass::*)(UINT, CPoint)>(&ThisClass::OnLButtonDown)))},
#define ON_WM_ERASEBKGND()                                                             \
  {WM_ERASEBKGND, 0, 0,                                                               \
   MessageHandler(static_cast<BOOL (CCmdTarget::*)(CDC*)>(                            \
       static_cast<BOOL (ThisClass::*)(CDC*)>(&ThisClass::OnEraseBkgnd)))},
#define ON_WM_QUERYDRAGICON()                                                          \
  {WM_QUERYDRAGICON, 0, 0,                                                            \
   MessageHandler(static_cast<HCURSOR (CCmdTarget::*)()>(                             \
       static_cast<HCURSOR (ThisClass::*)()>(&ThisClass::OnQueryDragIcon)))},
#define ON_WM_DROPFILES()                                                              \
  {WM_DROPFILES, 0, 0,                                                                \
   MessageHandler(static_cast<void (CCmdTarget::*)(HDROP)>(                           \
       static_cast<void (ThisClass::*)(HDROP)>(&ThisClass::OnDropFiles)))},
#define ON_WM_ENDSESSION()                                                             \
  {WM_ENDSESSION, 0, 0,                                                               \
   MessageHandler(static_cast<void (CCmdTarget::*)(BOOL)>(                            \
       static_cast<void (ThisClass::*)(BOOL)>(&ThisClass::OnEndSession)))},
#define ON_WM_SYSCOMMAND()                                                             \
  {WM_SYSCOMMAND, 0, 0,                                                               \
   MessageHandler(static_cast<void (CCmdTarget::*)(UINT, LPARAM)>(                    \
       static_cast<void (ThisClass::*)(UINT, LPARAM)>(&ThisClass::OnSysCommand)))},

#endif
