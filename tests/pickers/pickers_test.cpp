#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/context.h"
#include "pickers/pickers.h"
#include "platform/memory_ui.h"
#include "support/fake_platform.h"

namespace dbsetup {
namespace {

// A MemoryUi that also keeps what each dialog was asked to show.
class RecordingUi : public MemoryUi {
 public:
  std::vector<std::string> dialogs;  // "file: title | filter" or "folder: caption"

  int file_open_dialog(const std::string& title, const std::string& filter, std::string& docname,
                       std::string& named) override {
    dialogs.push_back("file: " + title + " | " + filter);
    return MemoryUi::file_open_dialog(title, filter, docname, named);
  }
  std::string browse_for_folder(const std::string& caption) override {
    dialogs.push_back("folder: " + caption);
    return MemoryUi::browse_for_folder(caption);
  }
};

// Each button opens its dialog; a cancel leaves every field as typed, a
// choice replaces only the field beside the button (a file with its full
// path, not the bare name).
TEST(Pickers, ChoiceReplacesOnlyTheFieldBesideTheButtonAndCancelNothing) {
  struct Case {
    void (*handler)(SetupContext&);
    const char* field;
    std::string dialog;
  };
  // The file dialogs offer one choice, "Data Files (*.*)", matching every file.
  const Case cases[] = {
      {&pb_mss7data_backupfile_clicked, "sle_mss7data_backupfile",
       "file: 请选择需装载的数据文件 | Data Files (*.*),*.*"},
      {&pb_mss2000data_backupfile_clicked, "sle_mss2000data_backupfile",
       "file: 需装载的数据文件 | Data Files (*.*),*.*"},
      {&pb_mss7data_setuppath_clicked, "sle_mss7data_setuppath", "folder: 选择存放数据的目录："},
      {&pb_mss2000data_setuppath_clicked, "sle_mss2000data_setuppath",
       "folder: 选择存放数据的目录："},
  };
  const char* const fields[] = {"sle_mss7data_backupfile",
                                "sle_mss2000data_backupfile",
                                "sle_mss7data_setuppath",
                                "sle_mss2000data_setuppath",
                                "sle_mss7data_defaultpath",
                                "sle_mss2000data_defaultpath",
                                "sle_dbname",
                                "sle_dbname_2000"};
  std::string file, folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    testing::FakePlatform fake;
    Settings gs;
    Transaction sqlca;
    RecordingUi ui;
    WindowState state;
    SetupContext ctx{gs, sqlca, ui, state, fake.platform};
    ui.choose_file = [&](const std::string&) { return file; };
    ui.choose_folder = [&](const std::string&) { return folder; };
    std::map<std::string, std::string> typed;
    for (const char* f : fields) ui.set_text(f, typed[f] = std::string("typed ") + f);
    const auto now = [&] {
      std::map<std::string, std::string> out;
      for (const char* f : fields) out[f] = ui.text(f);
      return out;
    };

    file = folder = "";
    c.handler(ctx);
    EXPECT_EQ(now(), typed);
    file = "E:\\backup\\shop.dat";
    folder = "D:\\新数据\\";
    c.handler(ctx);
    typed[c.field] = c.dialog.rfind("file", 0) == 0 ? file : folder;
    EXPECT_EQ(now(), typed);
    EXPECT_EQ(ui.dialogs, std::vector<std::string>(2, c.dialog));
    EXPECT_TRUE(ui.message_boxes().empty());
  }
}

}  // namespace
}  // namespace dbsetup
