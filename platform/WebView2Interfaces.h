#pragma once
// The WebView2 COM interfaces the Windows host uses, declared here because no WebView2 SDK can
// be had from this project's package sources. One table: each interface's IID, the interface it
// extends, and its methods in vtable order (after IUnknown's three, or after its base's). The
// host calls methods by the slot this table gives (win32/ComCall.h), so the order lives only
// here. Checked against the SDK's WebView2.idl by hand; a wrong entry shows only on Windows.
#include <cstddef>
#include <stdexcept>
#include <string_view>

namespace lumivale::webview2 {

struct ComInterface {
    std::string_view name;
    std::string_view iid;   // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"
    std::string_view base;  // "IUnknown" or an interface of this table
    const std::string_view* methods;
    std::size_t methodCount;
};

inline constexpr std::string_view kEnvironment[] = {
    "CreateCoreWebView2Controller", "CreateWebResourceResponse", "get_BrowserVersionString",
    "add_NewBrowserVersionAvailable", "remove_NewBrowserVersionAvailable"};
inline constexpr std::string_view kController[] = {
    "get_IsVisible", "put_IsVisible", "get_Bounds", "put_Bounds", "get_ZoomFactor", "put_ZoomFactor",
    "add_ZoomFactorChanged", "remove_ZoomFactorChanged", "SetBoundsAndZoomFactor", "MoveFocus",
    "add_MoveFocusRequested", "remove_MoveFocusRequested", "add_GotFocus", "remove_GotFocus", "add_LostFocus",
    "remove_LostFocus", "add_AcceleratorKeyPressed", "remove_AcceleratorKeyPressed", "get_ParentWindow",
    "put_ParentWindow", "NotifyParentWindowPositionChanged", "Close", "get_CoreWebView2"};
inline constexpr std::string_view kWebView[] = {
    "get_Settings", "get_Source", "Navigate", "NavigateToString", "add_NavigationStarting",
    "remove_NavigationStarting", "add_ContentLoading", "remove_ContentLoading", "add_SourceChanged",
    "remove_SourceChanged", "add_HistoryChanged", "remove_HistoryChanged", "add_NavigationCompleted",
    "remove_NavigationCompleted", "add_FrameNavigationStarting", "remove_FrameNavigationStarting",
    "add_FrameNavigationCompleted", "remove_FrameNavigationCompleted", "add_ScriptDialogOpening",
    "remove_ScriptDialogOpening", "add_PermissionRequested", "remove_PermissionRequested", "add_ProcessFailed",
    "remove_ProcessFailed", "AddScriptToExecuteOnDocumentCreated", "RemoveScriptToExecuteOnDocumentCreated",
    "ExecuteScript", "CapturePreview", "Reload", "PostWebMessageAsJson", "PostWebMessageAsString",
    "add_WebMessageReceived", "remove_WebMessageReceived", "CallDevToolsProtocolMethod", "get_BrowserProcessId",
    "get_CanGoBack", "get_CanGoForward", "GoBack", "GoForward", "GetDevToolsProtocolEventReceiver", "Stop",
    "add_NewWindowRequested", "remove_NewWindowRequested", "add_DocumentTitleChanged",
    "remove_DocumentTitleChanged", "get_DocumentTitle", "AddHostObjectToScript", "RemoveHostObjectFromScript",
    "OpenDevToolsWindow", "add_ContainsFullScreenElementChanged", "remove_ContainsFullScreenElementChanged",
    "get_ContainsFullScreenElement", "add_WebResourceRequested", "remove_WebResourceRequested",
    "AddWebResourceRequestedFilter", "RemoveWebResourceRequestedFilter", "add_WindowCloseRequested",
    "remove_WindowCloseRequested"};
inline constexpr std::string_view kWebView2[] = {
    "add_WebResourceResponseReceived", "remove_WebResourceResponseReceived", "NavigateWithWebResourceRequest",
    "add_DOMContentLoaded", "remove_DOMContentLoaded", "get_CookieManager", "get_Environment"};
inline constexpr std::string_view kWebView3[] = {"TrySuspend", "Resume", "get_IsSuspended",
                                                 "SetVirtualHostNameToFolderMapping",
                                                 "ClearVirtualHostNameToFolderMapping"};
inline constexpr std::string_view kWebView4[] = {"add_FrameCreated", "remove_FrameCreated", "add_DownloadStarting",
                                                 "remove_DownloadStarting"};
inline constexpr std::string_view kSettings[] = {
    "get_IsScriptEnabled", "put_IsScriptEnabled", "get_IsWebMessageEnabled", "put_IsWebMessageEnabled",
    "get_AreDefaultScriptDialogsEnabled", "put_AreDefaultScriptDialogsEnabled", "get_IsStatusBarEnabled",
    "put_IsStatusBarEnabled", "get_AreDevToolsEnabled", "put_AreDevToolsEnabled",
    "get_AreDefaultContextMenusEnabled", "put_AreDefaultContextMenusEnabled", "get_AreHostObjectsAllowed",
    "put_AreHostObjectsAllowed", "get_IsZoomControlEnabled", "put_IsZoomControlEnabled",
    "get_IsBuiltInErrorPageEnabled", "put_IsBuiltInErrorPageEnabled"};
inline constexpr std::string_view kSettings2[] = {"get_UserAgent", "put_UserAgent"};
inline constexpr std::string_view kSettings3[] = {"get_AreBrowserAcceleratorKeysEnabled",
                                                  "put_AreBrowserAcceleratorKeysEnabled"};
inline constexpr std::string_view kWebMessageArgs[] = {"get_Source", "get_WebMessageAsJson",
                                                       "TryGetWebMessageAsString"};
inline constexpr std::string_view kNavigationStartingArgs[] = {"get_Uri", "get_IsUserInitiated", "get_IsRedirected",
                                                               "get_RequestHeaders", "get_Cancel", "put_Cancel",
                                                               "get_NavigationId"};
inline constexpr std::string_view kDownloadStartingArgs[] = {
    "get_DownloadOperation", "get_Cancel", "put_Cancel", "get_ResultFilePath", "put_ResultFilePath",
    "get_Handled", "put_Handled", "GetDeferral"};
// The handlers the host implements itself: IUnknown and one Invoke each.
inline constexpr std::string_view kHandler[] = {"Invoke"};

#define LUMIVALE_COM_INTERFACE(name, iid, base, methods) {name, iid, base, methods, std::size(methods)}
inline constexpr ComInterface kInterfaces[] = {
    LUMIVALE_COM_INTERFACE("ICoreWebView2Environment", "b96d755e-0319-4e92-a296-23436f46a1fc", "IUnknown", kEnvironment),
    LUMIVALE_COM_INTERFACE("ICoreWebView2Controller", "4d00c0d1-9434-4eb6-8078-8697a560334f", "IUnknown", kController),
    LUMIVALE_COM_INTERFACE("ICoreWebView2", "76eceacb-0462-4d94-ac83-423a6793775e", "IUnknown", kWebView),
    LUMIVALE_COM_INTERFACE("ICoreWebView2_2", "9e8f0cf8-e670-4b5e-b2bc-73e061e3184c", "ICoreWebView2", kWebView2),
    LUMIVALE_COM_INTERFACE("ICoreWebView2_3", "a0d6df20-3b92-416d-aa0c-437a9c727857", "ICoreWebView2_2", kWebView3),
    LUMIVALE_COM_INTERFACE("ICoreWebView2_4", "20d02d59-6df2-42dc-bd06-f98a694b1302", "ICoreWebView2_3", kWebView4),
    LUMIVALE_COM_INTERFACE("ICoreWebView2Settings", "e562e4f0-d7fa-43ac-8d71-c05150499f00", "IUnknown", kSettings),
    LUMIVALE_COM_INTERFACE("ICoreWebView2Settings2", "ee9a0f68-f46c-4e32-ac23-ef8cac224d2a", "ICoreWebView2Settings",
                           kSettings2),
    LUMIVALE_COM_INTERFACE("ICoreWebView2Settings3", "fdb5ab74-af33-4854-84f0-0a631deb5eba", "ICoreWebView2Settings2",
                           kSettings3),
    LUMIVALE_COM_INTERFACE("ICoreWebView2WebMessageReceivedEventArgs", "0f99a40c-e962-4207-9e92-e3d542eff849",
                           "IUnknown", kWebMessageArgs),
    LUMIVALE_COM_INTERFACE("ICoreWebView2NavigationStartingEventArgs", "5b495469-e119-438a-9b18-7604f25f2e49",
                           "IUnknown", kNavigationStartingArgs),
    LUMIVALE_COM_INTERFACE("ICoreWebView2DownloadStartingEventArgs", "e99bbe21-43e9-4544-a732-282764eafa60",
                           "IUnknown", kDownloadStartingArgs),
    LUMIVALE_COM_INTERFACE("ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler",
                           "4e8a3389-c9d8-4bd2-b6b5-124fee6cc14d", "IUnknown", kHandler),
    LUMIVALE_COM_INTERFACE("ICoreWebView2CreateCoreWebView2ControllerCompletedHandler",
                           "6c4819f3-c9b7-4260-8127-c9f5bde7f68c", "IUnknown", kHandler),
    LUMIVALE_COM_INTERFACE("ICoreWebView2WebMessageReceivedEventHandler", "57213f19-00e6-49fa-8e07-898ea01ecbd2",
                           "IUnknown", kHandler),
    LUMIVALE_COM_INTERFACE("ICoreWebView2NavigationStartingEventHandler", "9adbe429-f36d-432b-9ddc-f8881fbd76e3",
                           "IUnknown", kHandler),
    LUMIVALE_COM_INTERFACE("ICoreWebView2NavigationCompletedEventHandler", "d33a35bf-1c49-4f98-93ab-006e0533fe1c",
                           "IUnknown", kHandler),
    LUMIVALE_COM_INTERFACE("ICoreWebView2DownloadStartingEventHandler", "efedc989-c396-41ca-83f7-07f845a55724",
                           "IUnknown", kHandler),
};
#undef LUMIVALE_COM_INTERFACE

constexpr const ComInterface& Find(std::string_view name) {
    for (const ComInterface& entry : kInterfaces) {
        if (entry.name == name) return entry;
    }
    throw std::invalid_argument("not in the WebView2 table");  // at compile time: an error
}

// The vtable slot of `method`, counting IUnknown's three and every base's methods first.
constexpr std::size_t Slot(std::string_view iface, std::string_view method) {
    const ComInterface& entry = Find(iface);
    std::size_t first = 3;
    for (std::string_view base = entry.base; base != "IUnknown"; base = Find(base).base) first += Find(base).methodCount;
    for (std::size_t i = 0; i < entry.methodCount; ++i) {
        if (entry.methods[i] == method) return first + i;
    }
    throw std::invalid_argument("no such method in the WebView2 table");
}

constexpr std::string_view Iid(std::string_view iface) { return Find(iface).iid; }

}  // namespace lumivale::webview2
