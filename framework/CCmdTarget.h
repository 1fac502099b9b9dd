// Message maps: per-class tables that route window messages and commands to
// member handlers, each table chained to its base class's table.
#pragma once

#include <windows.h>

class CCmdTarget;

// Calls one handler on the target; returns the message's result.
typedef LRESULT (*AFX_PMSGHANDLER)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage;       // window message; WM_COMMAND entries also match nCode and nID
    UINT nCode;          // notification code (0 for a plain command or BN_CLICKED)
    UINT nID;            // command or control id
    AFX_PMSGHANDLER pfn; // null marks the end of the table
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget
{
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the handler mapped to command nID with notification nCode; false when none is mapped.
    virtual BOOL OnCmdMsg(UINT nID, UINT nCode);

    // The first entry for a message (and, for WM_COMMAND, a code and id) along the base chain.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)        \
    const AFX_MSGMAP* theClass::GetMessageMap() const \
    {                                                 \
        return GetThisMessageMap();                   \
    }                                                 \
    const AFX_MSGMAP* theClass::GetThisMessageMap()   \
    {                                                 \
        typedef theClass ThisClass [[maybe_unused]];  \
        typedef baseClass TheBaseClass;               \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                      \
    {                                                                          \
        0, 0, 0, nullptr                                                       \
    }                                                                          \
    }                                                                          \
    ;                                                                          \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                               \
    }

#define AFX_MSG_THIS(t) static_cast<ThisClass*>(t)

#define ON_COMMAND(id, memberFxn)                                                         \
    {WM_COMMAND, 0, static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(t)->memberFxn();                                                    \
         return 0;                                                                        \
     }},

#define ON_CONTROL(code, id, memberFxn)                                                                         \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(t)->memberFxn();                                                                          \
         return 0;                                                                                              \
     }},

#define ON_BN_CLICKED(id, memberFxn)    ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn)     ON_CONTROL(EN_CHANGE, id, memberFxn)
#define ON_LBN_SELCHANGE(id, memberFxn) ON_CONTROL(LBN_SELCHANGE, id, memberFxn)

// A message handled by LRESULT memberFxn(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn) \
    {static_cast<UINT>(message), 0, 0, \
     [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { return AFX_MSG_THIS(t)->memberFxn(w, l); }},

#define ON_WM_SYSCOMMAND()                                                   \
    {WM_SYSCOMMAND, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT { \
         AFX_MSG_THIS(t)->OnSysCommand(static_cast<UINT>(w), l);             \
         return 0;                                                           \
     }},

#define ON_WM_PAINT()                                               \
    {WM_PAINT, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(t)->OnPaint();                                \
         return 0;                                                  \
     }},

#define ON_WM_QUERYDRAGICON()                                                  \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {    \
         return reinterpret_cast<LRESULT>(AFX_MSG_THIS(t)->OnQueryDragIcon()); \
     }},

#define ON_WM_DESTROY()                                               \
    {WM_DESTROY, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT { \
         AFX_MSG_THIS(t)->OnDestroy();                                \
         return 0;                                                    \
     }},
