#include "command_line.h"

#include <charconv>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "core/transcoder.h"

namespace wendrel::batch {
namespace {

constexpr char kSeparator = ';';
constexpr char kFolderMark = '*';

// A field holds items each followed by ";", so every value is added as whole items: a field
// text without its closing ";" would otherwise run into the next value's first item. An empty
// text adds nothing, so that a field given only as "" is still reported as missing.
void append_field(std::string& field, const std::string& text) {
    field += text;
    if (!text.empty() && text.back() != kSeparator) {
        field += kSeparator;
    }
}

enum class Item { kFile, kFolder, kExcluded };

// One path as one item. A path holding ";" would split into two items, and a target file
// ending in "*" would be read as a folder item, so neither can be named this way. A folder
// may end in "*": only the mark added after it is taken off.
bool append_item(std::string& field, const std::string& path, Item kind, std::string_view option,
                 std::string& error) {
    const char* why = nullptr;
    if (path.empty()) {
        why = "the path is empty";
    } else if (path.find(kSeparator) != std::string::npos) {
        why = "a path must not contain ';'";
    } else if (kind == Item::kFile && path.back() == kFolderMark) {
        why = "a file path must not end in '*'";
    }
    if (why != nullptr) {
        error = std::string(option) + " '" + path + "': " + why;
        return false;
    }
    field += path;
    if (kind == Item::kFolder) {
        field += kFolderMark;
    }
    field += kSeparator;
    return true;
}

bool append_glob(std::vector<std::string>& globs, const std::string& glob, std::string_view option,
                 std::string& error) {
    if (glob.empty()) {
        error = std::string(option) + ": the glob is empty";
        return false;
    }
    globs.push_back(glob);
    return true;
}

bool parse_colour(const std::string& value, BatchRequest::Colour& colour, std::string& error) {
    using Colour = BatchRequest::Colour;
    for (const auto& [word, choice] : {std::pair{"auto", Colour::automatic},
                                       {"always", Colour::always},
                                       {"never", Colour::never}}) {
        if (value == word) {
            colour = choice;
            return true;
        }
    }
    error = "--color '" + value + "': must be auto, always or never";
    return false;
}

// A value that names something (a file, an encoding) cannot be empty: "" is a slip of the
// shell, never a name.
bool take_name(const std::string& option, const std::string& value, std::string_view what,
               std::string& target, std::string& error) {
    if (value.empty()) {
        error = option + ": the " + std::string(what) + " is empty";
        return false;
    }
    target = value;
    return true;
}

// One option: `name` as given ("--name", "--name=value") or one letter of a group ("-w"). Its
// value, when it takes one and has none after "=", is the next argument, at `i` + 1.
bool parse_option(const std::vector<std::string>& args, std::size_t& i, std::string name,
                  BatchRequest& request, std::string& error) {
    auto& in = request.inputs;
    std::string value;
    bool has_value = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        has_value = true;
    }
    const auto flag = [&](bool& target) {
        if (has_value) {
            error = name + " takes no value";
            return false;
        }
        target = true;
        return true;
    };
    const auto take_value = [&]() {
        if (has_value) {
            return true;
        }
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        value = args[++i];
        return true;
    };
    if (name == "--help" || name == "-h") {
        return flag(request.help);
    }
    if (name == "--version") {
        return flag(request.version);
    }
    if (name == "--quiet" || name == "-q") {
        return flag(request.quiet);
    }
    if (name == "--strict") {
        return flag(request.strict);
    }
    if (name == "--dry-run" || name == "-n") {
        return flag(in.dry_run);
    }
    if (name == "--diff") {
        return flag(request.diff);
    }
    if (name == "--color") {
        return take_value() && parse_colour(value, request.colour, error);
    }
    if (name == "--encoding" || name == "--rules-encoding") {
        std::string& target = name == "--encoding" ? in.encoding : in.rules_encoding;
        if (!take_value() || !take_name(name, value, "encoding name", target, error)) {
            return false;
        }
        const bool mode = name == "--encoding" && (value == "auto" || value == "bytes");
        if (!mode && !core::Transcoder(value, "UTF-8").ok()) {
            error = name + " '" + value + "': not an encoding iconv knows (see iconv -l)";
            return false;
        }
        return true;
    }
    if (name == "--whole-word" || name == "-w") {
        return flag(in.options.whole_word);
    }
    if (name == "--ignore-case" || name == "-i") {
        bool ignore = false;
        const bool ok = flag(ignore);
        in.options.match_case = !ignore;
        return ok;
    }
    if (name == "--source" || name == "--except") {
        if (take_value()) {
            append_field(name == "--source" ? in.source : in.except, value);
            return true;
        }
        return false;
    }
    if (name == "--change") {
        return take_value() && take_name(name, value, "file name", in.change, error);
    }
    if (name == "--undo") {
        request.action = BatchRequest::Action::undo;
        // The job's id is optional: a following word that is not an option is one.
        if (has_value) {
            request.undo_id = value;
        } else if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
            request.undo_id = args[++i];
        }
        return true;
    }
    if (name == "--jobs") {
        bool list = false;
        request.action = BatchRequest::Action::list_jobs;
        return flag(list);
    }
    if (name == "--no-undo") {
        bool no_undo = false;
        request.keep_undo = false;
        return flag(no_undo);
    }
    if (name == "--undo-limit") {
        if (!take_value()) {
            return false;
        }
        std::uint64_t mib = 0;
        const auto [end, parse_error] =
            std::from_chars(value.data(), value.data() + value.size(), mib);
        if (parse_error != std::errc() || end != value.data() + value.size()) {
            error = name + " needs a whole number of MiB";
            return false;
        }
        request.undo_limit_mib = mib;
        return true;
    }
    if (name == "--recursive" || name == "-r") {
        return flag(in.walk.recursive);
    }
    if (name == "--include" || name == "--exclude-glob") {
        return take_value() && append_glob(name == "--include" ? in.walk.include : in.walk.exclude,
                                           value, name, error);
    }
    if (name == "--cross-fs") {
        return flag(in.walk.cross_fs);
    }
    if (name == "--binary") {
        return flag(in.walk.binary);
    }
    if (name == "--file" || name == "--dir") {
        return take_value() &&
               append_item(in.source, value, name == "--file" ? Item::kFile : Item::kFolder, name,
                           error);
    }
    if (name == "--exclude") {
        return take_value() && append_item(in.except, value, Item::kExcluded, name, error);
    }
    error = "unknown option: " + name;
    return false;
}

// The words that are not options. Without --change the first two are the pair, given to the
// job as its one entry; the rest, and with --change every word, are target PATHs, added after
// the items of the options. A PATH that is a folder is a folder item, as --dir makes it.
bool take_words(const std::vector<std::string>& words, BatchRequest& request, std::string& error) {
    auto& in = request.inputs;
    if (request.help || request.version) {
        return true;
    }
    if (request.action != BatchRequest::Action::replace) {
        if (!words.empty()) {
            error = "unexpected argument: " + words.front();
            return false;
        }
        return true;
    }
    std::size_t first_path = 0;
    if (in.change.empty()) {
        if (words.empty() && request.undo_limit_mib && in.source.empty()) {
            return true;  // only the limit is asked for
        }
        if (words.size() < 3) {
            static constexpr const char* kMissing[] = {"FIND REPLACE PATH... (or --change FILE)",
                                                       "REPLACE and PATH", "PATH"};
            error = std::string("missing ") + kMissing[words.size()];
            return false;
        }
        if (words[0].empty()) {
            error = "FIND is empty";
            return false;
        }
        in.entries = std::vector<core::Entry>{{words[0], words[1]}};
        first_path = 2;
    } else if (words.empty() && in.source.empty()) {
        error = "missing PATH";
        return false;
    }
    for (std::size_t w = first_path; w < words.size(); ++w) {
        std::error_code ignored;  // a PATH that cannot be looked at fails as a file, in the job
        const Item kind =
            std::filesystem::is_directory(words[w], ignored) ? Item::kFolder : Item::kFile;
        if (!append_item(in.source, words[w], kind, "PATH", error)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool CommandLine::parse(const std::vector<std::string>& args, BatchRequest& request,
                        std::string& error) {
    std::vector<std::string> words;  // FIND, REPLACE and the PATHs
    bool only_words = false;         // after "--"
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool ok = true;
        if (only_words || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);  // "-" too: a file of that name
        } else if (arg == "--") {
            only_words = true;
        } else if (arg[1] == '-') {
            ok = parse_option(args, i, arg, request, error);
        } else {
            // "-wi" is "-w -i": no short option takes a value, so each letter is one.
            for (std::size_t letter = 1; ok && letter < arg.size(); ++letter) {
                ok = parse_option(args, i, {'-', arg[letter]}, request, error);
            }
        }
        if (!ok) {
            return false;
        }
    }
    if (request.diff) {
        request.inputs.dry_run = true;
        request.inputs.want_preview = true;
    }
    return take_words(words, request, error);
}

const char* CommandLine::help_text() {
    return R"(Usage: wendrel-batch [OPTION]... FIND REPLACE PATH...
  or:  wendrel-batch [OPTION]... --change FILE [PATH]...

Replaces text in files, exactly as the Wendrel window does, and prints the window's status
lines and file information on standard output, one line at a time. Failure lines and their
reasons go to standard error as well; warnings about the replacement-content file go there
only. The last line counts the files changed, left unchanged, skipped and failed.

The first form replaces FIND by REPLACE in each PATH; both are bytes taken exactly as given,
FIND must not be empty and REPLACE may be. The second form applies every find/replace pair of
the replacement-content file FILE (see below), and every word that is not an option is a PATH.
A PATH that is a folder stands for the regular files directly in it (with -r, below it too).

Examples:
  wendrel-batch foo bar notes.txt           foo becomes bar in notes.txt
  wendrel-batch -wi foo bar dir/            whole words, in any case, in the files of dir
  wendrel-batch -r --change rules.txt src/  the pairs of rules.txt in the whole tree of src
  wendrel-batch -n -- -x y notes.txt        a FIND that starts with '-': count, change nothing

Targets and exclusions (besides the PATHs, which are added after these):
  --source TEXT    target items in the window's syntax: each item followed by ';',
                   a folder item ends in '*' (e.g. '/srv/www/*;/etc/motd;')
  --file PATH      one target file; PATH must not hold ';' nor end in '*'
  --dir PATH       every regular file directly in the folder PATH (with -r, below it)
  --except TEXT    files to leave out in the window's syntax: full paths, each followed by ';'
  --exclude PATH   one file to leave out; PATH must not hold ';'
  --change FILE    the replacement-content file, whose pairs are used instead of FIND REPLACE

Folders (these apply to every folder item, from a PATH, --dir or --source):
  -r, --recursive        a folder item reaches the files of all its sub-folders too, in
                         byte order of their paths; symlinked folders are not followed,
                         nor folders on another file system, and the folders of version
                         control (.git, .hg, .svn, .bzr, _darcs, CVS) are left out
      --include GLOB     take only the files whose path matches GLOB (repeatable)
      --exclude-glob GLOB  leave out the files and folders whose path matches GLOB
                         (repeatable); a folder left out is not entered
      --cross-fs         with -r: enter folders on other file systems too
      --binary           with -r: take files with a NUL byte in their first 4096 bytes
                         too (by default they are skipped)
  GLOB is an fnmatch(3) pattern matched against the path relative to the folder item: one
  without '/' against the last name alone at any depth ('*.c', 'build'), one with '/'
  against the whole relative path, where '*' does not match '/' ('src/*.c'). Names
  starting with '.' match like any other. Without -r, --include and --exclude-glob apply
  to the folder's direct files, and --cross-fs and --binary change nothing.

Matching:
  -w, --whole-word   a match must not have an ASCII letter on either side
  -i, --ignore-case  ignore the case of A-Z (matching is case-sensitive by default)

Encodings:
      --encoding auto|bytes|NAME  how target files are read: auto detects GB18030, Big5,
                         Shift_JIS, EUC-KR and UTF-16/32 by content; bytes matches raw
                         bytes; NAME is any iconv encoding name (default: auto)
      --rules-encoding NAME  the encoding of the replacement-content file, any iconv
                         encoding name (by default it is detected)

Undo (each job that changes files keeps their old content in $XDG_STATE_HOME/wendrel,
by default ~/.local/state/wendrel: the last 10 jobs, within a size limit):
      --undo [ID]       take back the last job not yet taken back, or the job ID: each
                        file that still holds what the job wrote gets its old content
                        again; a file changed since is reported and left as it is. An
                        undo can itself be taken back.
      --jobs            list the kept jobs: id, start time, files changed, state
      --no-undo         keep nothing for this job (it cannot be taken back)
      --undo-limit MIB  the most space kept jobs may take (default 1024); the oldest
                        jobs are dropped first

Output:
  -n, --dry-run   run the whole job in memory and write nothing; print for each target how
                  many replacements each entry made, and the total
      --diff      a dry run (it implies --dry-run) that prints on standard output, for each
                  file it would change, a unified diff of the change, and the status lines on
                  standard error. The diff applies with 'patch -p1' run in the folder the
                  target paths are relative to ('patch -p1 -d /' for absolute paths)
      --color=WHEN  colour the diff: auto (when standard output is a terminal), always, never
  -q, --quiet     print only failures
      --strict    when the replacement-content file has warnings (a blank line, text after
                  a record, a line without '|', ...), change nothing and exit 2
  -h, --help      show this help and exit
      --version   show the version and exit

Short options may be grouped: -wi is -w -i. After '--' every word is FIND, REPLACE or a
PATH, even one that starts with '-'.

--source, --file, --dir, --except and --exclude may be repeated and mixed: each value adds its
items to its field in the order given (a --source or --except text without its closing ';'
gets one). Items are processed from the last to the first, as in the window.

The replacement-content file holds one record per line: the find text, '|', the replacement
text, '|'. Texts are bytes taken exactly as written; lines end in LF, CR LF or CR, and a UTF-8
byte-order mark is skipped (a UTF-16 file is refused). Example:

  colour|color|
  Wendrel 1.0|Wendrel 2.0|

Exit status: 0 when every target was completed or left out (an undo: every file restored or
left as changed since), 1 when any target or file to restore could not be completed, a folder
could not be listed, the replacement-content file could not be read or there was no job to
undo, 2 for bad usage (and, with --strict, for a replacement-content file with warnings), 130
when SIGINT, SIGTERM or SIGHUP stopped the job (the file being worked on is left as it was).
)";
}

}  // namespace wendrel::batch
