// A service for the service manager tests. Like a database server it passes
// through each pending state with checkpoints and a wait hint, and it ends on
// the stop control, or by itself two minutes after its start. With --hang in
// its command line it stays "start pending" without progress and gives up
// after two seconds.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cwchar>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
HANDLE g_stop = nullptr;

void report(DWORD state, DWORD checkpoint, DWORD wait_hint, DWORD exit_code = NO_ERROR) {
  DWORD accepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SERVICE_STATUS status{
      SERVICE_WIN32_OWN_PROCESS, state, accepted, exit_code, 0, checkpoint, wait_hint};
  SetServiceStatus(g_handle, &status);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    report(SERVICE_STOP_PENDING, 1, 1000);
    SetEvent(g_stop);
  }
  bool known = control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_INTERROGATE;
  return known ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI service_main(DWORD, wchar_t** argv) {
  if (!(g_handle = RegisterServiceCtrlHandlerExW(argv[0], handler, nullptr))) return;
  g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (std::wcsstr(GetCommandLineW(), L" --hang")) {
    report(SERVICE_START_PENDING, 1, 200);
    Sleep(2000);
    report(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_REQUEST_TIMEOUT);
    return;
  }
  for (DWORD checkpoint = 1; checkpoint <= 2; ++checkpoint) {
    report(SERVICE_START_PENDING, checkpoint, 1000);
    Sleep(100);
  }
  report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(g_stop, 120000);
  Sleep(100);
  report(SERVICE_STOP_PENDING, 2, 1000);
  Sleep(100);
  report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main() {
  wchar_t name[] = L"";  // ignored for a service of its own process
  SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
