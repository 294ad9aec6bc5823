#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/context.h"
#include "pickers/pickers.h"
#include "pickers/u_browseforfolder.h"
#include "platform/memory_ui.h"
#include "support/fake_platform.h"

namespace dbsetup {
namespace {

// A MemoryUi that also keeps what each dialog was asked to show.
class RecordingUi : public MemoryUi {
 public:
  struct Dialog {
    std::string kind;  // "file" or "folder"
    std::string title;
    std::string filter;
  };
  std::vector<Dialog> dialogs;

  int file_open_dialog(const std::string& title, const std::string& filter, std::string& docname,
                       std::string& named) override {
    dialogs.push_back({"file", title, filter});
    return MemoryUi::file_open_dialog(title, filter, docname, named);
  }
  std::string browse_for_folder(const std::string& caption) override {
    dialogs.push_back({"folder", caption, ""});
    return MemoryUi::browse_for_folder(caption);
  }
};

struct PickerCase {
  void (*handler)(SetupContext&);
  const char* kind;
  const char* title;
  const char* field;
};

const PickerCase kPickers[] = {
    {&pb_mss7data_backupfile_clicked, "file", "请选择需装载的数据文件", "sle_mss7data_backupfile"},
    {&pb_mss2000data_backupfile_clicked, "file", "需装载的数据文件", "sle_mss2000data_backupfile"},
    {&pb_mss7data_setuppath_clicked, "folder", "选择存放数据的目录：", "sle_mss7data_setuppath"},
    {&pb_mss2000data_setuppath_clicked, "folder", "选择存放数据的目录：",
     "sle_mss2000data_setuppath"},
};

// Every field a picker could touch, with a typed value in each.
const char* const kFields[] = {
    "sle_mss7data_backupfile",
    "sle_mss2000data_backupfile",
    "sle_mss7data_setuppath",
    "sle_mss2000data_setuppath",
    "sle_mss7data_defaultpath",
    "sle_mss2000data_defaultpath",
    "sle_dbname",
    "sle_dbname_2000",
};

class PickersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : kFields) ui.set_text(f, std::string("typed ") + f);
  }

  testing::FakePlatform fake;
  Settings gs;
  Transaction sqlca;
  RecordingUi ui;
  WindowState state;
  SetupContext ctx{gs, sqlca, ui, state, fake.platform};
};

// Each button opens its dialog; a cancel leaves every field as typed, a
// choice replaces only the field beside the button.
TEST_F(PickersTest, ChoiceReplacesOnlyTheFieldBesideTheButtonAndCancelNothing) {
  std::string file, folder;
  ui.choose_file = [&](const std::string&) { return file; };
  ui.choose_folder = [&](const std::string&) { return folder; };
  for (const PickerCase& p : kPickers) {
    SCOPED_TRACE(p.field);
    SetUp();  // fresh typed values
    ui.dialogs.clear();
    file = folder = "";
    p.handler(ctx);
    for (const char* f : kFields) EXPECT_EQ(ui.text(f), std::string("typed ") + f);
    file = "E:\\backup\\shop.dat";
    folder = "D:\\新数据\\";
    p.handler(ctx);

    ASSERT_EQ(ui.dialogs.size(), 2u);
    EXPECT_EQ(ui.dialogs[1].kind, p.kind);
    EXPECT_EQ(ui.dialogs[1].title, p.title);
    if (std::string(p.kind) == "file") {
      // One choice described as "Data Files (*.*)", matching every file.
      EXPECT_EQ(ui.dialogs[1].filter, "Data Files (*.*),*.*");
      EXPECT_EQ(ui.text(p.field), file);  // the full path, not the bare name
    } else {
      EXPECT_EQ(ui.text(p.field), folder);
      // The folder-browse object shows its chooser owned by the window.
      u_browseforfolder lnca_bff;
      EXPECT_EQ(lnca_bff.browseforfolder(ui, "选择存放数据的目录："), folder);
      EXPECT_EQ(ui.dialogs.back().title, "选择存放数据的目录：");
    }
    for (const char* f : kFields) {
      if (std::string(f) != p.field) {
        EXPECT_EQ(ui.text(f), std::string("typed ") + f) << f;
      }
    }
  }
  EXPECT_TRUE(ui.message_boxes().empty());
}

}  // namespace
}  // namespace dbsetup
