#include "platform/platform.h"

namespace dbsetup {

Platform& default_platform() {
  static std::unique_ptr<Registry> registry = make_system_registry();
  static std::unique_ptr<FileSystem> files = make_system_files();
  static std::unique_ptr<ProfileReader> profile = make_system_profile_reader();
  static std::unique_ptr<Clock> clock = make_system_clock();
  static std::unique_ptr<Services> services = make_system_services();
  static Platform platform{registry.get(),    files.get(), profile.get(),
                           &make_odbc_client, clock.get(), services.get()};
  return platform;
}

}  // namespace dbsetup
