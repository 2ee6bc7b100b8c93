// The MOF reader's built-in system classes, kept as MOF text and read by
// the reader itself, so that they are declared exactly as a file would
// declare them.
#include "posix/wbem/mof_parser.h"

namespace posix_wmi {
namespace {

// The classes WMI holds in every namespace before any MOF is read, as far
// as a MOF file derives from them or makes instances of them.
constexpr char kSystemClasses[] = R"(
class __SystemClass {};
class __Provider : __SystemClass { [key] string Name; };
class __Win32Provider : __Provider {
  string ClientLoadableCLSID; string CLSID; sint32 Concurrency;
  string DefaultMachineName; boolean Enabled; string HostingModel;
  sint32 ImpersonationLevel = 0; sint32 InitializationReentrancy;
  datetime InitializationTimeoutInterval; boolean InitializeAsAdminFirst;
  datetime OperationTimeoutInterval; boolean PerLocaleInitialization = FALSE;
  boolean PerUserInitialization = FALSE; boolean Pure = TRUE;
  string SecurityDescriptor; boolean SupportsExplicitShutdown;
  boolean SupportsExtendedStatus; boolean SupportsQuotas;
  boolean SupportsSendStatus; boolean SupportsShutdown;
  boolean SupportsThrottling; datetime UnloadTimeout; uint32 Version;
};
class __ProviderRegistration : __SystemClass { __Provider ref provider; };
class __ObjectProviderRegistration : __ProviderRegistration {
  sint32 InteractionType = 0; string QuerySupportLevels[];
  boolean SupportsBatching; boolean SupportsDelete = FALSE;
  boolean SupportsEnumeration = FALSE; boolean SupportsGet = FALSE;
  boolean SupportsPut = FALSE; boolean SupportsTransactions;
  string ExtendedQuerySupport;
};
class __InstanceProviderRegistration : __ObjectProviderRegistration {
  [key] __Provider ref provider;
};
class __ClassProviderRegistration : __ObjectProviderRegistration {
  [key] __Provider ref provider; datetime CacheRefreshInterval;
  sint32 PerUserSchema; boolean ReloadOnDemand; string ResultSetQueries[];
  string ReferencedSetQueries[]; string UnsupportedQueries[];
};
class __MethodProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider;
};
class __PropertyProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider; boolean SupportsGet; boolean SupportsPut;
};
class __EventProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider; string EventQueryList[];
};
class __EventConsumerProviderRegistration : __ProviderRegistration {
  [key] __Provider ref provider; string ConsumerClassNames[];
};
class __Namespace : __SystemClass { [key] string Name; };
class __IndicationRelated : __SystemClass {};
class __EventFilter : __IndicationRelated {
  uint8 CreatorSID[]; string EventAccess; string EventNamespace;
  [key] string Name; string Query; string QueryLanguage;
};
class __EventConsumer : __IndicationRelated {
  uint8 CreatorSID[]; string MachineName; uint32 MaximumQueueSize;
};
class __FilterToConsumerBinding : __IndicationRelated {
  [key] __EventConsumer ref Consumer; uint8 CreatorSID[];
  boolean DeliverSynchronously = FALSE; uint32 DeliveryQoS;
  [key] __EventFilter ref Filter; boolean MaintainSecurityContext = FALSE;
  boolean SlowDownProviders = FALSE;
};
class __Event : __IndicationRelated {
  uint8 SECURITY_DESCRIPTOR[]; uint64 TIME_CREATED;
};
class __ExtrinsicEvent : __Event {};
class __InstanceOperationEvent : __Event { object TargetInstance; };
class __InstanceCreationEvent : __InstanceOperationEvent {};
class __InstanceDeletionEvent : __InstanceOperationEvent {};
class __InstanceModificationEvent : __InstanceOperationEvent {
  object PreviousInstance;
};
class __EventGenerator : __IndicationRelated {};
class __TimerInstruction : __EventGenerator {
  boolean SkipIfPassed = FALSE; [key] string TimerId;
};
class __IntervalTimerInstruction : __TimerInstruction {
  uint32 IntervalBetweenEvents;
};
class __AbsoluteTimerInstruction : __TimerInstruction {
  datetime EventDateTime;
};
class __TimerEvent : __Event { uint32 NumFiring; string TimerId; };
)";

}  // namespace

// The system classes' declarations, read once per process.
const std::vector<MofNamespace::Declaration>& Parser::SystemClasses() {
  static const std::vector<MofNamespace::Declaration> classes = [] {
    std::vector<MofNamespace::Declaration> out;
    Parser parser;
    MofNamespace scratch;
    parser.provider_ = &scratch;
    parser.recording_ = &out;
    parser.ReadSource(kSystemClasses, "<system classes>", nullptr);
    return out;
  }();
  return classes;
}

}  // namespace posix_wmi
