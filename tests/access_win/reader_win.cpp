// A screen reader's side, in a process of its own: reaches the installer window of another
// process through MSAA, as Narrator or NVDA would, and prints what it finds, one line each.
//   access-reader dump                 the client area and every child: id, role, state (hex),
//                                      name, value, default action, location on the screen
//   access-reader press                the button's default action
//   access-reader listen <ms> <event>  hooks the window's events out of context, sets the named
//                                      event once hooked, and prints the events seen in <ms>
//   access-reader hold <held> <go>     takes the object, sets <held>, waits for <go>, then asks
//                                      again and prints what the calls returned
// Output is UTF-8, fields separated by tabs.
#define INITGUID // mingw's import library carries another value for IID_IAccessible
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text)
{
    if (text == nullptr)
        return "-";
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

VARIANT child(long id)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::string text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), IAccessible* object, long id)
{
    BSTR value = nullptr;
    HRESULT result = (object->*get)(child(id), &value);
    std::string out = SUCCEEDED(result) && value != nullptr ? utf8(value) : "-";
    SysFreeString(value);
    return out;
}

long number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), IAccessible* object, long id)
{
    VARIANT value;
    VariantInit(&value);
    HRESULT result = (object->*get)(child(id), &value);
    return SUCCEEDED(result) && value.vt == VT_I4 ? value.lVal : -1;
}

void line(const std::string& text)
{
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void describe(IAccessible* object, long id)
{
    long x = 0, y = 0, w = 0, h = 0;
    object->accLocation(&x, &y, &w, &h, child(id));
    char head[96];
    std::snprintf(head, sizeof head, "%ld\t%ld\t%lx\t", id, number(&IAccessible::get_accRole, object, id),
                  static_cast<unsigned long>(number(&IAccessible::get_accState, object, id)));
    char place[96];
    std::snprintf(place, sizeof place, "\t%ld\t%ld\t%ld\t%ld", x, y, w, h);
    line(head + text(&IAccessible::get_accName, object, id) + "\t" + text(&IAccessible::get_accValue, object, id) +
         "\t" + text(&IAccessible::get_accDefaultAction, object, id) + place);
}

HWND target = nullptr;

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG objectId, LONG childId, DWORD, DWORD)
{
    if (window != target || objectId != OBJID_CLIENT)
        return;
    char text[64];
    std::snprintf(text, sizeof text, "event\t%lx\t%ld", static_cast<unsigned long>(event), static_cast<long>(childId));
    line(text);
}

void pumpFor(DWORD milliseconds)
{
    ULONGLONG until = GetTickCount64() + milliseconds;
    MSG message;
    while (GetTickCount64() < until) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool waitPumping(HANDLE event, DWORD milliseconds)
{
    ULONGLONG until = GetTickCount64() + milliseconds;
    MSG message;
    while (GetTickCount64() < until) {
        if (MsgWaitForMultipleObjects(1, &event, FALSE, 20, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    target = FindWindowW(L"OrvanInstaller", nullptr);
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (target == nullptr) {
        line("no window");
        return 1;
    }
    if (command == L"listen" && argc == 4) {
        DWORD process = 0;
        GetWindowThreadProcessId(target, &process);
        HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr, onEvent,
                                             process, 0, WINEVENT_OUTOFCONTEXT);
        HANDLE hooked = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
        SetEvent(hooked);
        pumpFor(static_cast<DWORD>(_wtoi(argv[2])));
        UnhookWinEvent(hook);
        return hook != nullptr ? 0 : 1;
    }

    IAccessible* object = nullptr;
    HRESULT found = AccessibleObjectFromWindow(target, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                               reinterpret_cast<void**>(&object));
    if (FAILED(found) || object == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "no object %lx", static_cast<unsigned long>(found));
        line(text);
        return 1;
    }
    if (command == L"dump") {
        long count = 0;
        object->get_accChildCount(&count);
        describe(object, CHILDID_SELF);
        for (long id = 1; id <= count; ++id)
            describe(object, id);
        VARIANT focus;
        VariantInit(&focus);
        object->get_accFocus(&focus);
        line("focus\t" + std::to_string(focus.vt == VT_I4 ? focus.lVal : -1));
    } else if (command == L"press") {
        for (long id = 1;; ++id) {
            long role = number(&IAccessible::get_accRole, object, id);
            if (role == -1)
                break;
            if (role == ROLE_SYSTEM_PUSHBUTTON) {
                char text[64];
                std::snprintf(text, sizeof text, "pressed\t%lx",
                              static_cast<unsigned long>(object->accDoDefaultAction(child(id))));
                line(text);
            }
        }
    } else if (command == L"hold" && argc == 4) {
        line("name\t" + text(&IAccessible::get_accName, object, CHILDID_SELF));
        SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
        waitPumping(OpenEventW(SYNCHRONIZE, FALSE, argv[3]), 20000);
        BSTR name = nullptr;
        HRESULT named = object->get_accName(child(4), &name);
        long count = 0;
        HRESULT counted = object->get_accChildCount(&count);
        char text[96];
        std::snprintf(text, sizeof text, "after\t%lx\t%lx", static_cast<unsigned long>(named),
                      static_cast<unsigned long>(counted));
        line(text);
    }
    object->Release();
    return 0;
}
