// PLACEHOLDER: replaced by the registry export file reader.
#include "platform/platform.h"
namespace dbsetup {
namespace {
class EmptyRegistry : public Registry {
 public:
  bool get_string(const std::string&, const std::string&, std::string& v) override {
    v.clear();
    return false;
  }
  bool get_multi_string(const std::string&, const std::string&,
                        std::vector<std::string>& v) override {
    v.clear();
    return false;
  }
};
}  // namespace
std::unique_ptr<Registry> make_system_registry() { return std::make_unique<EmptyRegistry>(); }
}  // namespace dbsetup
