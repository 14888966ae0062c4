#pragma once
// Finding WebView2: CreateCoreWebView2EnvironmentWithOptions from WebView2Loader.dll beside the
// executable when the packager put it there, otherwise the environment entry of the installed
// WebView2 runtime.
#include <windows.h>
#include <unknwn.h>

#include <string>

namespace lumivale::win32 {

// Starts creating an environment whose data lives in `userDataFolder`; `handler` (an
// ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler) is told the outcome. A failure
// HRESULT when no runtime was found or it refused at once; `why` then says which.
HRESULT StartWebView2Environment(const std::wstring& userDataFolder, IUnknown* handler, std::string& why);

}  // namespace lumivale::win32
