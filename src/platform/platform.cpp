#include "platform/platform.h"

namespace dbsetup {

SystemPlatform::SystemPlatform(const RunSettings& settings)
    : registry_(make_system_registry(settings)),
      files_(make_system_files()),
      profile_(make_system_profile_reader()),
      clock_(make_system_clock()),
      services_(make_system_services()),
      platform_{registry_.get(), files_.get(),
                profile_.get(),  [settings] { return make_odbc_client(settings); },
                clock_.get(),    services_.get()} {}

}  // namespace dbsetup
