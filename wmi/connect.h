// The connection to root\cimv2 that the model program and the capture tool
// share: COM, its security, the WMI locator and the services. Each program
// words a failure its own way, so a failure comes back as the step that
// failed and the status it gave.
#pragma once

#include "wmi/owners.h"
#include "wmi/platform.h"

// The start-up steps, in the order they run.
enum class ConnectStep {
  kComLibrary,    // OleInitialize
  kSecurity,      // CoInitializeSecurity
  kResourceName,  // the namespace path as a BSTR: WBEM_E_OUT_OF_MEMORY
  kLocator,       // CoCreateInstance of the WMI locator
  kServer,        // IWbemLocator::ConnectServer
};

struct ConnectFailure {
  ConnectStep step = ConnectStep::kComLibrary;
  HRESULT code = S_OK;
};

// COM and a connection to root\cimv2 for the life of the object. Whatever
// Open brought up, whether it succeeded or not, the destructor gives back:
// the services, the namespace path, the locator, then COM, which is
// uninitialized only when it started.
class WmiConnection {
 public:
  WmiConnection() = default;
  WmiConnection(const WmiConnection&) = delete;
  WmiConnection& operator=(const WmiConnection&) = delete;

  // Runs the steps in order, once, and stops at the first that fails: true
  // with services() set, or false with the step and its status in
  // *failure. Nothing is logged or printed.
  bool Open(ConnectFailure* failure);

  IWbemServices* services() const { return services_.p; }

 private:
  struct ComLibrary {
    bool started = false;
    ComLibrary() = default;
    ComLibrary(const ComLibrary&) = delete;
    ComLibrary& operator=(const ComLibrary&) = delete;
    ~ComLibrary();
  };

  // Members are destroyed in reverse: this order is the give-back order.
  ComLibrary com_;
  Com<IWbemLocator> locator_;
  Bstr resource_;
  Com<IWbemServices> services_;
};
