#pragma once

// Bases for fake browser objects: every method of the interface answers
// E_NOTIMPL, so that a fake overrides only what its tests call. IUnknown's
// three methods stay for the fake to implement.

#include "WebView/WebView2Abi.h"

namespace velto::webview::abi {

#define VELTO_UNUSED_EVENT_OF(name, Handler)                                         \
  HRESULT STDMETHODCALLTYPE add_##name(Handler*, EventRegistrationToken*) override { \
    return E_NOTIMPL;                                                                \
  }                                                                                  \
  HRESULT STDMETHODCALLTYPE remove_##name(EventRegistrationToken) override {         \
    return E_NOTIMPL;                                                                \
  }
#define VELTO_UNUSED_EVENT(name) VELTO_UNUSED_EVENT_OF(name, Unknown)
#define VELTO_UNUSED_WEBVIEW_EVENT(name) VELTO_UNUSED_EVENT_OF(name, ICoreWebView2##name##EventHandler)

struct SettingsStub : ICoreWebView2Settings {
  HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL) override { return E_NOTIMPL; }

 protected:
  ~SettingsStub() = default;
};

// Also the base of the stub of a later version, whose table continues this.
template <class Interface>
struct WebViewStubOf : Interface {
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) override { return E_NOTIMPL; }
  VELTO_UNUSED_WEBVIEW_EVENT(NavigationStarting)
  VELTO_UNUSED_EVENT(ContentLoading)
  VELTO_UNUSED_EVENT(SourceChanged)
  VELTO_UNUSED_EVENT(HistoryChanged)
  VELTO_UNUSED_WEBVIEW_EVENT(NavigationCompleted)
  VELTO_UNUSED_EVENT(FrameNavigationStarting)
  VELTO_UNUSED_EVENT(FrameNavigationCompleted)
  VELTO_UNUSED_EVENT(ScriptDialogOpening)
  VELTO_UNUSED_WEBVIEW_EVENT(PermissionRequested)
  VELTO_UNUSED_WEBVIEW_EVENT(ProcessFailed)
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR, ICoreWebView2ExecuteScriptCompletedHandler*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CapturePreview(int, Unknown*, Unknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reload() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler*,
                                                   EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, Unknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, Unknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
  VELTO_UNUSED_WEBVIEW_EVENT(NewWindowRequested)

 protected:
  ~WebViewStubOf() = default;
};

using WebViewStub = WebViewStubOf<ICoreWebView2>;

struct WebView4Stub : WebViewStubOf<ICoreWebView2_4> {
  VELTO_UNUSED_EVENT(DocumentTitleChanged)
  HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR, void*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(ContainsFullScreenElementChanged)
  HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL*) override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(WebResourceRequested)
  HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(LPCWSTR, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(LPCWSTR, int) override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(WindowCloseRequested)
  VELTO_UNUSED_EVENT(WebResourceResponseReceived)
  HRESULT STDMETHODCALLTYPE NavigateWithWebResourceRequest(Unknown*) override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(DOMContentLoaded)
  HRESULT STDMETHODCALLTYPE get_CookieManager(Unknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Environment(ICoreWebView2Environment**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TrySuspend(Unknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsSuspended(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetVirtualHostNameToFolderMapping(LPCWSTR, LPCWSTR, int) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ClearVirtualHostNameToFolderMapping(LPCWSTR) override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(FrameCreated)
  VELTO_UNUSED_WEBVIEW_EVENT(DownloadStarting)

 protected:
  ~WebView4Stub() = default;
};

struct ControllerStub : ICoreWebView2Controller {
  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(ZoomFactorChanged)
  HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveFocus(MoveFocusReason) override { return E_NOTIMPL; }
  VELTO_UNUSED_EVENT(MoveFocusRequested)
  VELTO_UNUSED_EVENT(GotFocus)
  VELTO_UNUSED_EVENT(LostFocus)
  VELTO_UNUSED_EVENT(AcceleratorKeyPressed)
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Close() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2**) override { return E_NOTIMPL; }

 protected:
  ~ControllerStub() = default;
};

struct DownloadOperationStub : ICoreWebView2DownloadOperation {
  VELTO_UNUSED_EVENT(BytesReceivedChanged)
  VELTO_UNUSED_EVENT(EstimatedEndTimeChanged)
  VELTO_UNUSED_EVENT_OF(StateChanged, ICoreWebView2StateChangedEventHandler)
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ContentDisposition(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MimeType(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_TotalBytesToReceive(INT64*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BytesReceived(INT64*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_EstimatedEndTime(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ResultFilePath(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_State(DownloadState*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_InterruptReason(int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }

 protected:
  ~DownloadOperationStub() = default;
};

#undef VELTO_UNUSED_WEBVIEW_EVENT
#undef VELTO_UNUSED_EVENT
#undef VELTO_UNUSED_EVENT_OF

}  // namespace velto::webview::abi
