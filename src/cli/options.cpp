#include "options.h"

#include <cstddef>

namespace {

const char kDescription[] =
    "Converts the line breaks of each FILE in place, one after another. With no\n"
    "FILE and standard input not a terminal, or with FILE -, converts standard\n"
    "input to standard output.\n"
    "\n";

const char kExitStatus[] =
    "\n"
    "Exit status: 0 when every file was converted or skipped (with --check: none\n"
    "would change), 1 when some file failed (with --check: or would change), 2\n"
    "for a usage error.\n";

// Where the options' help lines begin.
const size_t kHelpColumn = 21;

}  // namespace

const char kUsageLine[] =
    "Usage: quenlat-cli [--auto | --to-crlf | --to-lf] [OPTION]... [--] [FILE]...\n";

const OptionSpec kOptionTable[] = {
    {"auto", 0, nullptr, nullptr,
     "Automatic (toggle): a file whose first CR is followed by\n"
     "LF gets LF breaks, any other file CR-LF breaks (the default)",
     [](CliOptions* o, const std::string&) { o->mode = ModeAutomatic; }},
    {"to-crlf", 0, nullptr, nullptr, "Always map LF to CR-LF",
     [](CliOptions* o, const std::string&) { o->mode = ModeLfToCrLf; }},
    {"to-lf", 0, nullptr, nullptr, "Always map CR-LF to LF",
     [](CliOptions* o, const std::string&) { o->mode = ModeCrLfToLf; }},
    {"check", 0, nullptr, nullptr,
     "change nothing: print each file's CR-LF, lone LF and lone\n"
     "CR counts, whether it holds 0x1A or NUL, and what the mode\n"
     "would do (\"binary\" for a file that is skipped)",
     [](CliOptions* o, const std::string&) { o->check = true; }},
    {"recursive", 'r', nullptr, nullptr,
     "convert the files in each FILE that is a folder, and in\n"
     "its folders (not .git, .svn or .hg; links to folders are\n"
     "not followed, links to files only into the FILE)",
     [](CliOptions* o, const std::string&) { o->recursive = true; }},
    {"follow-links", 0, nullptr, nullptr, "with -r, also follow links to files outside the FILE",
     [](CliOptions* o, const std::string&) { o->followLinks = true; }},
    {"files-from", 0, "LIST", "a file",
     "then the files named in LIST, one a line (- reads the\n"
     "names from standard input)",
     [](CliOptions* o, const std::string& list) {
       o->filesFrom = list;
       o->hasFilesFrom = true;
     }},
    {"null", '0', nullptr, nullptr, "the names in LIST end with a NUL byte, not a line break",
     [](CliOptions* o, const std::string&) { o->nullSeparated = true; }},
    {"force", 0, nullptr, nullptr,
     "also convert binary files (a NUL byte, outside UTF-16 text\n"
     "with a byte-order mark), which are otherwise skipped,\n"
     "and on Windows sparse files, filling their holes",
     [](CliOptions* o, const std::string&) { o->force = true; }},
    {"quiet", 0, nullptr, nullptr, "print no summary",
     [](CliOptions* o, const std::string&) { o->quiet = true; }},
    {"help", 0, nullptr, nullptr, "print this text",
     [](CliOptions* o, const std::string&) { o->help = true; }},
    {"version", 0, nullptr, nullptr, "print the version",
     [](CliOptions* o, const std::string&) { o->version = true; }},
    {"", 0, nullptr, nullptr, "ends the options: every argument after it is a file", nullptr},
};
const size_t kOptionCount = sizeof kOptionTable / sizeof kOptionTable[0];

std::string HelpText() {
  std::string text = std::string(kUsageLine) + kDescription;
  for (const OptionSpec& option : kOptionTable) {
    std::string names = "  ";
    if (option.shortName != 0) names += std::string("-") + option.shortName + ", ";
    names += std::string("--") + option.longName;
    if (option.argument) names += std::string(" ") + option.argument;
    names.resize(names.size() + 2 > kHelpColumn ? names.size() + 2 : kHelpColumn, ' ');
    text += names;
    for (const char* c = option.help; *c != '\0'; ++c) {
      text += *c;
      if (*c == '\n') text.append(kHelpColumn, ' ');
    }
    text += '\n';
  }
  return text + kExitStatus;
}

namespace {

// The option spelled --name (without its "--"), or nullptr.
const OptionSpec* LongOption(const std::string& name) {
  for (const OptionSpec& option : kOptionTable) {
    if (name == option.longName) return &option;
  }
  return nullptr;
}

// The option spelled -letter, or nullptr.
const OptionSpec* ShortOption(char letter) {
  for (const OptionSpec& option : kOptionTable) {
    if (option.shortName != 0 && option.shortName == letter) return &option;
  }
  return nullptr;
}

// Takes the arguments one by one: what the options set and which files
// they name.
class Parser {
 public:
  Parser(const std::vector<std::string>& args, CliOptions* options, std::string* error)
      : args_(args), options_(options), error_(error) {}

  // False for a usage error (*error_ says which).
  bool ParseAll() {
    for (next_ = 0; next_ < args_.size();) {
      const std::string& arg = args_[next_++];
      if (optionsEnd_ || arg.size() < 2 || arg[0] != '-') {
        options_->files.push_back(arg);
      } else if (arg[1] == '-') {
        if (!ParseLong(arg)) return false;
      } else if (!ParseBundle(arg)) {
        return false;
      }
    }
    return true;
  }

 private:
  // arg is "--name" or "--name=value".
  bool ParseLong(const std::string& arg) {
    const size_t equals = arg.find('=');
    const OptionSpec* option = LongOption(arg.substr(2, equals == std::string::npos ? equals : equals - 2));
    if (option == nullptr || (equals != std::string::npos && option->argument == nullptr))
      return Unknown(arg);
    if (equals != std::string::npos) return Apply(*option, arg.substr(equals + 1));
    return option->argument ? ApplyNextArgument(*option) : Apply(*option, std::string());
  }

  // arg is '-' and one or more letters, each an option; one that takes an
  // argument takes the rest of the bundle, or the next argument.
  bool ParseBundle(const std::string& arg) {
    for (size_t i = 1; i < arg.size(); ++i) {
      const OptionSpec* option = ShortOption(arg[i]);
      if (option == nullptr) return Unknown(std::string("-") + arg[i]);
      if (option->argument == nullptr) {
        Apply(*option, std::string());
      } else if (i + 1 < arg.size()) {
        return Apply(*option, arg.substr(i + 1));
      } else {
        return ApplyNextArgument(*option);
      }
    }
    return true;
  }

  bool ApplyNextArgument(const OptionSpec& option) {
    if (next_ >= args_.size()) return Missing(option);
    return Apply(option, args_[next_++]);
  }

  bool Apply(const OptionSpec& option, const std::string& argument) {
    if (option.argument != nullptr && argument.empty()) return Missing(option);
    if (option.action == nullptr) {
      optionsEnd_ = true;
    } else {
      option.action(options_, argument);
    }
    return true;
  }

  bool Missing(const OptionSpec& option) {
    *error_ = std::string("option '--") + option.longName + "' needs " + option.missing;
    return false;
  }

  bool Unknown(const std::string& spelled) {
    *error_ = "unknown option '" + spelled + "'";
    return false;
  }

  const std::vector<std::string>& args_;
  CliOptions* options_;
  std::string* error_;
  size_t next_ = 0;
  bool optionsEnd_ = false;
};

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, bool inputIsTerminal, CliOptions* options,
                  std::string* error) {
  if (!Parser(args, options, error).ParseAll()) return false;
  if (options->help || options->version) return true;
  bool dash = false;
  for (const std::string& file : options->files) dash = dash || file == "-";
  if (dash) {
    if (options->files.size() > 1 || options->hasFilesFrom) {
      *error = "'-' (standard input) cannot be given with other files";
      return false;
    }
    options->files.clear();
    options->filter = true;
  } else if (options->files.empty() && !options->hasFilesFrom) {
    if (inputIsTerminal) {
      *error = "no files given";
      return false;
    }
    options->filter = true;
  }
  return true;
}
