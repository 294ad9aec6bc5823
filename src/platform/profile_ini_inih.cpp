// Profile files parsed with inih (the distribution's libinih).
#include <ini.h>

#include <cstring>
#include <vector>

#include "platform/files_posix.h"
#include "platform/profile_ini.h"
#include "platform/text_trim.h"

namespace dbsetup {

namespace {

// What inih reads from: the decoded text, one line per call.
struct Source {
  std::vector<std::string_view> lines;
  std::size_t next = 0;
  ProfileIni* profile = nullptr;
};

// inih's fgets-style reader. Each line is handed over without its leading
// blanks (inih would otherwise take an indented line for the continuation of
// the previous value) and cut at a UTF-8 character boundary when it does not
// fit inih's line buffer; what is cut off is dropped rather than read as a
// line of its own.
char* read_line(char* str, int num, void* stream) {
  auto* source = static_cast<Source*>(stream);
  if (source->next >= source->lines.size() || num < 3) return nullptr;
  std::size_t room = static_cast<std::size_t>(num) - 2;  // '\n' and the NUL
  std::string_view line = cut_utf8(trim_left(source->lines[source->next++]), room);
  if (!line.empty()) std::memcpy(str, line.data(), line.size());
  str[line.size()] = '\n';
  str[line.size() + 1] = '\0';
  return str;
}

int on_value(void* user, const char* section, const char* name, const char* value) {
  auto* source = static_cast<Source*>(user);
  if (section && name && value) source->profile->add(section, name, value);
  return 1;
}

#ifdef DB_SETUP_INIH_RUNTIME_OPTIONS
// The distribution's inih is built with its options as variables: the defaults
// (a 200-byte line buffer, " ;" starting a comment inside a value, indented
// lines continuing a value) do not suit profile files written for Windows.
// They are set for the length of one parse and restored afterwards.
class InihOptions {
 public:
  InihOptions()
      : multiline_(ini_allow_multiline),
        inline_comments_(ini_allow_inline_comments),
        max_line_(ini_max_line) {
    ini_allow_multiline = false;
    ini_allow_inline_comments = false;
    ini_max_line = static_cast<int>(ProfileIni::kMaxLineBytes) + 2;  // + '\n' and NUL
  }
  ~InihOptions() {
    ini_allow_multiline = multiline_;
    ini_allow_inline_comments = inline_comments_;
    ini_max_line = max_line_;
  }
  InihOptions(const InihOptions&) = delete;
  InihOptions& operator=(const InihOptions&) = delete;

 private:
  bool multiline_;
  bool inline_comments_;
  int max_line_;
};
#endif

}  // namespace

ProfileIni ProfileIni::parse(std::string_view bytes) {
  ProfileIni profile;
  std::string text = ProfileIni::text(bytes);
  Source source;
  source.profile = &profile;
  std::string_view all(text);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      source.lines.push_back(all.substr(start));
      break;
    }
    source.lines.push_back(all.substr(start, end - start));
    start = end + ((all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ? 2 : 1);
  }
#ifdef DB_SETUP_INIH_RUNTIME_OPTIONS
  InihOptions options;
#endif
  // A result other than 0 names the first line inih could not parse; such
  // lines are skipped and the rest of the file still counts.
  ini_parse_stream(&read_line, &source, &on_value, &source);
  return profile;
}

std::string IniProfileReader::read(const std::string& file, const std::string& section,
                                   const std::string& key, const std::string& default_value) {
  std::string bytes;
  if (!read_whole_file(to_posix_path(file), bytes)) return default_value;
  return ProfileIni::parse(bytes).get(section, key).value_or(default_value);
}

}  // namespace dbsetup
