#include "accessible_win.h"

#include "accessible.h"
#include "engine/messages.h"
#include "scale.h"
#include "state.h"
#include "window_win.h"

#include <oleacc.h>

#include <string>
#include <vector>

namespace {

constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Spelled out: mingw's import library carries a value of its own for IID_IAccessible.
constexpr GUID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// The UI Automation property LiveSetting and the annotation service that sets it on an MSAA child.
constexpr GUID kLiveSettingProperty = {0xC12BCD8E, 0x2A8E, 0x4950, {0x8A, 0xE7, 0x36, 0x25, 0x11, 0x1D, 0x58, 0xEB}};
constexpr GUID kClsidAccPropServices = {0xB5F8350B, 0x0548, 0x48B1, {0xA6, 0xEE, 0x88, 0xBD, 0x00, 0xB4, 0xA5, 0xE7}};
constexpr GUID kIidAccPropServices = {0x6E26E776, 0x04F0, 0x495D, {0x80, 0xE4, 0x33, 0x30, 0x35, 0x2E, 0x31, 0x69}};
constexpr long kLivePolite = 1;

// oleacc.dll is no Known DLL: imported, it would be looked for beside the installer, in
// Downloads, before the entry could restrict the search. So the COM side is loaded from the
// system folder when a reader first asks, and a process that no reader asks never loads it.
struct OleFunctions {
    bool tried = false;
    decltype(&LresultFromObject) lresultFromObject = nullptr;
    decltype(&AccessibleObjectFromWindow) accessibleObjectFromWindow = nullptr;
    decltype(&SysAllocString) sysAllocString = nullptr;
    decltype(&CoInitializeEx) coInitializeEx = nullptr;
    decltype(&CoDisconnectObject) coDisconnectObject = nullptr;
    decltype(&CoCreateInstance) coCreateInstance = nullptr;
};
OleFunctions ole; // UI thread only

template <typename Function>
void take(HMODULE module, const char* name, Function& function)
{
    if (module != nullptr)
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool oleLoaded()
{
    if (!ole.tried) {
        ole.tried = true;
        HMODULE oleacc = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        HMODULE oleaut32 = LoadLibraryExW(L"oleaut32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        HMODULE ole32 = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        take(oleacc, "LresultFromObject", ole.lresultFromObject);
        take(oleacc, "AccessibleObjectFromWindow", ole.accessibleObjectFromWindow);
        take(oleaut32, "SysAllocString", ole.sysAllocString);
        take(ole32, "CoInitializeEx", ole.coInitializeEx);
        take(ole32, "CoDisconnectObject", ole.coDisconnectObject);
        take(ole32, "CoCreateInstance", ole.coCreateInstance);
    }
    return ole.lresultFromObject != nullptr && ole.sysAllocString != nullptr && ole.coInitializeEx != nullptr &&
           ole.coDisconnectObject != nullptr;
}

long roleOf(AccessibleRole role)
{
    switch (role) {
    case AccessibleRole::StaticText: return ROLE_SYSTEM_STATICTEXT;
    case AccessibleRole::ProgressBar: return ROLE_SYSTEM_PROGRESSBAR;
    case AccessibleRole::PushButton: return ROLE_SYSTEM_PUSHBUTTON;
    }
    return ROLE_SYSTEM_STATICTEXT;
}

DWORD eventOf(AccessibleEvent event)
{
    switch (event) {
    case AccessibleEvent::NameChange: return EVENT_OBJECT_NAMECHANGE;
    case AccessibleEvent::ValueChange: return EVENT_OBJECT_VALUECHANGE;
    case AccessibleEvent::StateChange: return EVENT_OBJECT_STATECHANGE;
    case AccessibleEvent::LiveRegionChange: return EVENT_OBJECT_LIVEREGIONCHANGED;
    case AccessibleEvent::Reorder: return EVENT_OBJECT_REORDER;
    }
    return EVENT_OBJECT_REORDER;
}

std::vector<AccessibleElement> viewOf(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    return accessibleElements(installerState, unscaled(client.right, windowDpi));
}

HRESULT giveText(const std::wstring& text, BSTR* out)
{
    *out = ole.sysAllocString(text.c_str());
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

void giveChild(long id, VARIANT* out)
{
    out->vt = VT_I4;
    out->lVal = id;
}

// The client area of the installer window. Every call arrives on the UI thread: the object lives
// in the UI thread's single-threaded apartment, and COM brings calls from other processes there
// through the message loop.
struct WindowAccessible final : IAccessible {
    LONG references = 1;
    HWND window; // cleared when the window goes; from then on every call fails
    DWORD uiThread;

    explicit WindowAccessible(HWND owner) : window(owner), uiThread(GetCurrentThreadId()) {}

    // The view of the state, or why there is none.
    HRESULT view(std::vector<AccessibleElement>& elements) const
    {
        if (window == nullptr || !IsWindow(window))
            return CO_E_OBJNOTCONNECTED;
        if (GetCurrentThreadId() != uiThread)
            return RPC_E_WRONG_THREAD;
        elements = viewOf(window);
        return S_OK;
    }

    // The element a VARIANT names: nullptr for the client area itself; E_INVALIDARG for no child.
    static HRESULT resolve(const std::vector<AccessibleElement>& elements, const VARIANT& child,
                           const AccessibleElement*& element)
    {
        if (child.vt != VT_I4)
            return E_INVALIDARG;
        if (child.lVal == CHILDID_SELF) {
            element = nullptr;
            return S_OK;
        }
        if (child.lVal < 1 || static_cast<std::size_t>(child.lVal) > elements.size())
            return E_INVALIDARG;
        element = &elements[static_cast<std::size_t>(child.lVal) - 1];
        return S_OK;
    }

    // Looks up the child for the methods that read one element.
    HRESULT element(const VARIANT& child, std::vector<AccessibleElement>& elements,
                    const AccessibleElement*& found) const
    {
        HRESULT result = view(elements);
        return FAILED(result) ? result : resolve(elements, child, found);
    }

    bool active() const { return GetActiveWindow() == window; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == kIidUnknown || iid == kIidDispatch || iid == kIidAccessible) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: readers use the IAccessible methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override
    {
        std::vector<AccessibleElement> elements;
        HRESULT result = view(elements);
        if (FAILED(result))
            return result;
        *parent = nullptr;
        if (ole.accessibleObjectFromWindow == nullptr)
            return S_FALSE;
        return ole.accessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_WINDOW), kIidDispatch,
                                              reinterpret_cast<void**>(parent));
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override
    {
        std::vector<AccessibleElement> elements;
        HRESULT result = view(elements);
        if (SUCCEEDED(result))
            *count = static_cast<long>(elements.size());
        return result;
    }

    // The children are simple elements, named by their ids; none is an object of its own.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        *object = nullptr;
        return FAILED(result) ? result : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        if (FAILED(result))
            return result;
        if (found != nullptr)
            return giveText(found->name, name);
        wchar_t title[128] = {};
        GetWindowTextW(window, title, 128);
        return giveText(title, name);
    }

    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        *value = nullptr;
        if (FAILED(result))
            return result;
        if (found == nullptr || found->value.empty())
            return DISP_E_MEMBERNOTFOUND;
        return giveText(found->value, value);
    }

    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* description) override
    {
        *description = nullptr;
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        if (FAILED(result))
            return result;
        giveChild(found != nullptr ? roleOf(found->role) : ROLE_SYSTEM_CLIENT, role);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        if (FAILED(result))
            return result;
        long flags = 0;
        if (found != nullptr && found->focusable) {
            flags |= STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT;
            if (active())
                flags |= STATE_SYSTEM_FOCUSED;
            if (found->unavailable)
                flags |= STATE_SYSTEM_UNAVAILABLE;
        } else if (found != nullptr) {
            flags |= STATE_SYSTEM_READONLY;
        }
        giveChild(flags, state);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override
    {
        *help = nullptr;
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override
    {
        *file = nullptr;
        *topic = 0;
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* shortcut) override
    {
        *shortcut = nullptr;
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override
    {
        std::vector<AccessibleElement> elements;
        HRESULT result = view(elements);
        if (FAILED(result))
            return result;
        if (!active()) {
            focus->vt = VT_EMPTY;
            return S_FALSE;
        }
        giveChild(kChildButton, focus);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override
    {
        selection->vt = VT_EMPTY;
        return DISP_E_MEMBERNOTFOUND;
    }

    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        *action = nullptr;
        if (FAILED(result))
            return result;
        if (found == nullptr || found->role != AccessibleRole::PushButton)
            return DISP_E_MEMBERNOTFOUND;
        return giveText(L"Dr\u00FCcken", action);
    }

    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }

    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        if (FAILED(result))
            return result;
        RECT box = {};
        if (found != nullptr) {
            PixelRect r = scaledRect(found->location, windowDpi);
            box = {r.left, r.top, r.right, r.bottom};
        } else {
            GetClientRect(window, &box);
        }
        POINT origin = {box.left, box.top};
        ClientToScreen(window, &origin);
        *left = origin.x;
        *top = origin.y;
        *width = box.right - box.left;
        *height = box.bottom - box.top;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(start, elements, found);
        end->vt = VT_EMPTY;
        if (FAILED(result))
            return result;
        long count = static_cast<long>(elements.size());
        long to = 0;
        if (found == nullptr && direction == NAVDIR_FIRSTCHILD)
            to = 1;
        else if (found == nullptr && direction == NAVDIR_LASTCHILD)
            to = count;
        else if (found != nullptr && direction == NAVDIR_NEXT)
            to = start.lVal + 1;
        else if (found != nullptr && direction == NAVDIR_PREVIOUS)
            to = start.lVal - 1;
        if (to < 1 || to > count)
            return S_FALSE;
        giveChild(to, end);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override
    {
        std::vector<AccessibleElement> elements;
        HRESULT result = view(elements);
        hit->vt = VT_EMPTY;
        if (FAILED(result))
            return result;
        POINT point = {x, y};
        ScreenToClient(window, &point);
        RECT client = {};
        GetClientRect(window, &client);
        if (!PtInRect(&client, point))
            return S_FALSE;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            PixelRect r = scaledRect(elements[i].location, windowDpi);
            RECT box = {r.left, r.top, r.right, r.bottom};
            if (PtInRect(&box, point)) {
                giveChild(static_cast<long>(i) + 1, hit);
                return S_OK;
            }
        }
        giveChild(CHILDID_SELF, hit);
        return S_OK;
    }

    // Returns at once and presses the button from the message loop, as a click would, so that a
    // reader is never kept waiting on what the press starts.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        std::vector<AccessibleElement> elements;
        const AccessibleElement* found = nullptr;
        HRESULT result = element(child, elements, found);
        if (FAILED(result))
            return result;
        if (found == nullptr || found->role != AccessibleRole::PushButton)
            return DISP_E_MEMBERNOTFOUND;
        // Unavailable means no press: queued, it would act on whatever outcome arrives first.
        if (found->unavailable)
            return E_FAIL;
        PostMessageW(window, WM_PRESS_BUTTON, 0, 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
};

// UI thread: made on the first request for the client area, released when its window goes.
WindowAccessible* accessibleObject = nullptr;
// UI thread: what readers have been told of, to announce only what changes.
std::vector<AccessibleElement> announcedView;

// UI thread: the annotation service while the status line is marked live, else nullptr.
IAccPropServices* annotations = nullptr;

// Marks the status line a polite live region, so that UI Automation readers (Narrator) speak it
// when its live-region event comes. Where the service is missing or does nothing (Wine), the
// name-change events still reach MSAA readers.
void markStatusLive(HWND window)
{
    if (ole.coCreateInstance == nullptr ||
        FAILED(ole.coCreateInstance(kClsidAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIidAccPropServices,
                                    reinterpret_cast<void**>(&annotations))))
        return;
    VARIANT polite;
    polite.vt = VT_I4;
    polite.lVal = kLivePolite;
    if (FAILED(annotations->SetHwndProp(window, static_cast<DWORD>(OBJID_CLIENT), kChildStatus,
                                        kLiveSettingProperty, polite))) {
        annotations->Release();
        annotations = nullptr;
    }
}

void dropAccessible()
{
    if (accessibleObject == nullptr)
        return;
    if (annotations != nullptr) {
        annotations->ClearHwndProps(accessibleObject->window, static_cast<DWORD>(OBJID_CLIENT), kChildStatus,
                                    &kLiveSettingProperty, 1);
        annotations->Release();
        annotations = nullptr;
    }
    accessibleObject->window = nullptr;
    // Readers in other processes hold proxies; cut them off, so their calls fail in COM.
    ole.coDisconnectObject(accessibleObject, 0);
    accessibleObject->Release();
    accessibleObject = nullptr;
}

} // namespace

LRESULT onGetObject(HWND window, WPARAM flags, LPARAM objectId)
{
    if (static_cast<LONG>(static_cast<DWORD>(objectId)) != OBJID_CLIENT || !oleLoaded())
        return DefWindowProcW(window, WM_GETOBJECT, flags, objectId);
    if (accessibleObject != nullptr && accessibleObject->window != window)
        dropAccessible();
    if (accessibleObject == nullptr) {
        // Handing the object to another process needs COM on this thread; once set, it stays.
        ole.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        accessibleObject = new WindowAccessible(window);
        markStatusLive(window);
    }
    return ole.lresultFromObject(kIidAccessible, flags, accessibleObject);
}

void startAnnouncing(HWND window)
{
    announcedView = viewOf(window);
}

void announceChanges(HWND window)
{
    std::vector<AccessibleElement> now = viewOf(window);
    for (const Announcement& a : announcements(announcedView, now))
        NotifyWinEvent(eventOf(a.event), window, OBJID_CLIENT, a.child);
    announcedView = std::move(now);
}

void announceFocus(HWND window)
{
    NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, kChildButton);
}

void releaseAccessible(HWND window)
{
    if (accessibleObject != nullptr && accessibleObject->window == window)
        dropAccessible();
}
