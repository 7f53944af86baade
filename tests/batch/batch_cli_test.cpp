// End-to-end tests of the wendrel-batch program on temporary folder trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class BatchCli : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/wendrel-batch-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }

    // Runs the program with the C locale, so the time of each line is HH:MM:SS.
    RunResult run(std::vector<std::string> args) {
        RunResult result;
        const fs::path out = root_ / ".stdout";
        const fs::path err = root_ / ".stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        args.insert(args.begin(), WENDREL_BATCH_BINARY);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::string locale = "LC_ALL=C";
        char* envp[] = {locale.data(), nullptr};
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        int status = 0;
        waitpid(pid, &status, 0);
        result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = slurp(out);
        result.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return result;
    }

    // Output lines with the time of day taken off the status lines.
    static std::vector<std::string> lines(const std::string& out) {
        static const std::regex time(R"(--\d\d:\d\d:\d\d$)");
        std::vector<std::string> result;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            result.push_back(std::regex_replace(line, time, "--"));
        }
        return result;
    }

    std::string p(const std::string& name) const { return (root_ / name).string(); }

    fs::path root_;
};

// One folder job run twice: as a dry run, which prints each entry's count per file and writes
// nothing, then for real, which prints the window's lines in order and rewrites the files.
TEST_F(BatchCli, FolderJobDryRunThenForReal) {
    fs::create_directory(root_ / "d");
    spit(root_ / "d/b.txt", "one cat\r\n");
    spit(root_ / "d/a.txt", "cat and Cat, concat");
    spit(root_ / "rules", "cat|dog|\r\ndog|cow|\r\n");
    const std::vector<std::string> args = {"--dir", p("d"), "--change", p("rules"), "-i", "-w"};
    auto dry_args = args;
    dry_args.push_back("--dry-run");
    const auto dry = run(dry_args);
    EXPECT_EQ(dry.exit_code, 0) << dry.err;
    const auto dry_out = lines(dry.out);
    for (const auto& want :
         {"dry run: " + p("d/a.txt") + ": replacements per entry: 2 2, total 4",
          "dry run: " + p("d/b.txt") + ": replacements per entry: 1 1, total 2"}) {
        EXPECT_NE(std::find(dry_out.begin(), dry_out.end(), want), dry_out.end()) << dry.out;
    }
    EXPECT_EQ(slurp(root_ / "d/a.txt"), "cat and Cat, concat");
    EXPECT_EQ(slurp(root_ / "d/b.txt"), "one cat\r\n");

    const auto r = run(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> want = {
        "正在为替换做准备，请稍候--",
        "完成对替换内容来源的读取--",
        "完成对除去文件列表的读取--",
        "类型--文件夹/文件",
        "包含文件--2",
        "除去文件--0",
        "大小--1kb",
        "完成替换的准备工作，即将开始替换--",
        "完成文件" + p("d/a.txt") + "的替换--",
        "完成文件" + p("d/b.txt") + "的替换--",
        "完成了对所有文件的替换--",
    };
    EXPECT_EQ(lines(r.out), want);
    EXPECT_EQ(slurp(root_ / "d/a.txt"), "cow and cow, concat");
    EXPECT_EQ(slurp(root_ / "d/b.txt"), "one cow\r\n");
}

// Every value of --source, --file, --dir, --except and --exclude adds whole items to its
// field, in the order given, whatever the mix; paths the field cannot express are refused.
// Files, all holding "cat": d/1, d/2, f, g, s*/x (in a folder named "s*"), t*, a;b.
TEST_F(BatchCli, OptionMixTable) {
    spit(root_ / "rules", "cat|dog|\n");
    struct Row {
        std::vector<std::string> args;  // "@x" stands for the path of x under the test folder
        int exit_code;
        std::vector<std::string> done;  // files completed, in the order the job takes them
        std::string err_contains;       // with "@x" as in args
    };
    const std::vector<Row> rows = {
        {{"--source", "@f", "--source", "@g"}, 0, {"g", "f"}, ""},
        {{"--source", "@f", "--file", "@g"}, 0, {"g", "f"}, ""},
        {{"--file", "@f", "--source", "@g", "--file", "@d/1"}, 0, {"d/1", "g", "f"}, ""},
        {{"--source", "@d*", "--dir", "@s*"}, 0, {"s*/x", "d/1", "d/2"}, ""},
        {{"--dir", "@d", "--source", "@f;@g", "--dir", "@s*"},
         0,
         {"s*/x", "g", "f", "d/1", "d/2"},
         ""},
        {{"--dir", "@d", "--except", "@d/1", "--except", "@d/2"}, 0, {}, ""},
        {{"--dir", "@d", "--except", "@d/1", "--exclude", "@d/2"}, 0, {}, ""},
        {{"--source", "@f", "--file", "@g", "--exclude", "@f", "--except", "@g", "--exclude",
          "@d/1"},
         0,
         {},
         ""},
        {{"--dir", "@d", "--except", "@d/2;@f", "--except", "@d/1"}, 0, {}, ""},
        {{"--file", "@t*"}, 2, {}, "--file '@t*'"},
        {{"--file", "@f", "--file", "@a;b"}, 2, {}, "--file '@a;b'"},
    };
    const std::vector<std::string> files = {"d/1", "d/2", "f", "g", "s*/x", "t*", "a;b"};
    const auto expand = [&](std::string text) {
        for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos;) {
            text.replace(at, 1, root_.string() + "/");
        }
        return text;
    };
    for (const auto& row : rows) {
        fs::create_directories(root_ / "d");
        fs::create_directories(root_ / "s*");
        for (const auto& name : files) {
            spit(root_ / name, "cat");
        }
        std::vector<std::string> args = {"--change", p("rules")};
        std::string label;
        for (const auto& arg : row.args) {
            args.push_back(expand(arg));
            label += arg + " ";
        }
        const auto r = run(args);
        EXPECT_EQ(r.exit_code, row.exit_code) << label << r.err;
        EXPECT_NE(r.err.find(expand(row.err_contains)), std::string::npos) << label << r.err;
        std::vector<std::string> done;
        const std::regex completed("完成文件" + root_.string() + "/(.*)的替换--");
        for (const auto& line : lines(r.out)) {
            if (std::smatch m; std::regex_match(line, m, completed)) {
                done.push_back(m[1]);
            }
        }
        EXPECT_EQ(done, row.done) << label;
        for (const auto& name : files) {
            const bool rewritten = std::find(done.begin(), done.end(), name) != done.end();
            EXPECT_EQ(slurp(root_ / name), rewritten ? "dog" : "cat") << label << name;
        }
    }
}

TEST_F(BatchCli, ExitStatusTable) {
    spit(root_ / "t.txt", "x");
    spit(root_ / "rules", "x|y|\n");
    struct Row {
        std::vector<std::string> args;
        int exit_code;
        std::string err_contains;
    };
    const std::vector<Row> rows = {
        {{"--file", p("t.txt"), "--change", p("rules")}, 0, ""},
        {{"--file", p("missing.txt"), "--change", p("rules")}, 1, ""},
        {{"--file", p("t.txt"), "--change", p("no-rules")}, 1, ""},
        {{"--file", p("t.txt"), "--change", p(".")}, 1, ""},
        {{"--file", p("t.txt")}, 2, "请选择要替换的文件和替换来源"},
        {{"--change", p("rules")}, 2, "请选择要替换的文件和替换来源"},
        {{"--bogus"}, 2, "unknown option: --bogus"},
        {{"--file", p("t.txt"), "--change"}, 2, "--change needs a value"},
        {{"--quiet=yes"}, 2, "takes no value"},
        {{"--help"}, 0, ""},
        {{"--version"}, 0, ""},
    };
    for (const auto& row : rows) {
        const auto r = run(row.args);
        EXPECT_EQ(r.exit_code, row.exit_code) << row.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(row.err_contains), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(root_ / "missing.txt"));
    EXPECT_FALSE(fs::exists(root_ / "no-rules"));
}

TEST_F(BatchCli, QuietPrintsOnlyFailures) {
    spit(root_ / "ok.txt", "a");
    spit(root_ / "rules", "a|b|\n");
    const auto r =
        run({"--file", p("ok.txt"), "--file", p("gone.txt"), "--change", p("rules"), "--quiet"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(lines(r.out), std::vector<std::string>{"未能完成文件" + p("gone.txt") + "的替换--"});
    EXPECT_EQ(slurp(root_ / "ok.txt"), "b");
}

}  // namespace
