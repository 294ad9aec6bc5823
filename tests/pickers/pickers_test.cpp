#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/context.h"
#include "app/memory_ui.h"
#include "pickers/pickers.h"
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
    Page page;
    Field field;
    std::string dialog;
  };
  // The file dialogs offer one choice, "Data Files (*.*)", matching every file.
  const Case cases[] = {
      {&pb_mss7data_backupfile_clicked, Page::mss7, Field::backup,
       "file: 请选择需装载的数据文件 | Data Files (*.*),*.*"},
      {&pb_mss2000data_backupfile_clicked, Page::mss2000, Field::backup,
       "file: 需装载的数据文件 | Data Files (*.*),*.*"},
      {&pb_mss7data_setuppath_clicked, Page::mss7, Field::data_folder,
       "folder: 选择存放数据的目录："},
      {&pb_mss2000data_setuppath_clicked, Page::mss2000, Field::data_folder,
       "folder: 选择存放数据的目录："},
  };
  const Field fields[] = {Field::database, Field::backup, Field::data_folder,
                          Field::default_data_folder};
  std::string file, folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog);
    testing::FakePlatform fake;
    Settings gs;
    Transaction sqlca;
    RecordingUi ui;
    InstallForm form;
    SetupContext ctx{gs, sqlca, ui, form, fake.platform};
    ui.choose_file = [&](const std::string&) { return file; };
    ui.choose_folder = [&](const std::string&) { return folder; };
    for (Page p : {Page::mss7, Page::mss2000})
      for (Field f : fields) form.page(p)[f] = "typed " + std::to_string(static_cast<int>(f));
    const auto now = [&] {
      std::map<std::pair<Page, Field>, std::string> out;
      for (Page p : {Page::mss7, Page::mss2000})
        for (Field f : fields) out[{p, f}] = form.page(p)[f];
      return out;
    };
    auto typed = now();

    file = folder = "";
    c.handler(ctx);
    EXPECT_EQ(now(), typed);
    file = "E:\\backup\\shop.dat";
    folder = "D:\\新数据\\";
    c.handler(ctx);
    typed[{c.page, c.field}] = c.dialog.rfind("file", 0) == 0 ? file : folder;
    EXPECT_EQ(now(), typed);
    // Shown at once, and only after a choice.
    size_t shown = 0;
    for (const auto& e : ui.events()) shown += e.kind == MemoryUi::Event::FormShown;
    EXPECT_EQ(shown, 1u);
    EXPECT_EQ(ui.dialogs, std::vector<std::string>(2, c.dialog));
    EXPECT_TRUE(ui.message_boxes().empty());
  }
}

}  // namespace
}  // namespace dbsetup
