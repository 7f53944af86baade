// End-to-end tests of the wendrel-batch program on temporary folder trees.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exit_code = -1;
    std::vector<std::string> out;  // the lines, with the time of day taken off the status lines
    std::string err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class BatchCli : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/wendrel-batch-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string p(const std::string& name) const { return (root_ / name).string(); }
    /// `text` with every "@" standing for the test folder and a "/".
    std::string expand(std::string text) const {
        for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos;) {
            text.replace(at, 1, p(""));
        }
        return text;
    }

    // Runs the program on the expanded `args` with the C locale, so the time of each line is
    // HH:MM:SS.
    RunResult run(const std::vector<std::string>& args) {
        std::string command = "LC_ALL=C " WENDREL_BATCH_BINARY;
        for (const auto& arg : args) {  // each argument quoted for the shell
            command += " '" + std::regex_replace(expand(arg), std::regex("'"), "'\\''") + "'";
        }
        const int status = std::system((command + " >" + p(".out") + " 2>" + p(".err")).c_str());
        RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, slurp(root_ / ".err")};
        static const std::regex time(R"(--\d\d:\d\d:\d\d$)");
        std::istringstream lines(slurp(root_ / ".out"));
        for (std::string line; std::getline(lines, line);) {
            result.out.push_back(std::regex_replace(line, time, "--"));
        }
        return result;
    }

    fs::path root_;
};

// One folder job run twice: as a dry run, which prints each entry's count per file after the
// file's line and writes nothing, then for real, which rewrites the files.
TEST_F(BatchCli, FolderJobDryRunThenForReal) {
    fs::create_directory(root_ / "d");
    spit(root_ / "d/b.txt", "one cat\r\n");
    spit(root_ / "d/a.txt", "cat and Cat, concat");
    spit(root_ / "rules", "cat|dog|\r\ndog|cow|\r\n");
    std::vector<std::string> want = {
        "正在为替换做准备，请稍候--",
        "完成对替换内容来源的读取--",
        "完成对除去文件列表的读取--",
        "类型--文件夹/文件",
        "包含文件--2",
        "除去文件--0",
        "大小--1kb",
        "完成替换的准备工作，即将开始替换--",
        "完成文件" + p("d/a.txt") + "的替换--",
        "dry run: " + p("d/a.txt") + ": replacements per entry: 2 2, total 4",
        "完成文件" + p("d/b.txt") + "的替换--",
        "dry run: " + p("d/b.txt") + ": replacements per entry: 1 1, total 2",
        "完成了对所有文件的替换--"};
    const auto dry = run({"--dir", "@d", "--change", "@rules", "-i", "-w", "--dry-run"});
    EXPECT_EQ(dry.exit_code, 0) << dry.err;
    EXPECT_EQ(dry.out, want);
    EXPECT_EQ(slurp(root_ / "d/a.txt"), "cat and Cat, concat");
    EXPECT_EQ(slurp(root_ / "d/b.txt"), "one cat\r\n");

    std::erase_if(want, [](const std::string& line) { return line.starts_with("dry run"); });
    const auto real = run({"--dir", "@d", "--change", "@rules", "-i", "-w"});
    EXPECT_EQ(real.exit_code, 0) << real.err;
    EXPECT_EQ(real.out, want);
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
        {{"--file", "@f", "--source", "@g", "--file", "@d/1"}, 0, {"d/1", "g", "f"}, ""},
        {{"--dir", "@d", "--source", "@f;@g", "--dir", "@s*"},
         0,
         {"s*/x", "g", "f", "d/1", "d/2"},
         ""},
        {{"--dir", "@d", "--except", "@d/1", "--exclude", "@d/2"}, 0, {}, ""},
        {{"--dir", "@d", "--except", "@d/2;@f", "--except", "@d/1"}, 0, {}, ""},
        {{"--file", "@t*"}, 2, {}, "--file '@t*'"},
        {{"--file", "@f", "--file", "@a;b"}, 2, {}, "--file '@a;b'"},
    };
    const std::vector<std::string> files = {"d/1", "d/2", "f", "g", "s*/x", "t*", "a;b"};
    const std::regex completed("完成文件" + p("") + "(.*)的替换--");
    for (const auto& row : rows) {
        fs::create_directories(root_ / "d");
        fs::create_directories(root_ / "s*");
        for (const auto& name : files) {
            spit(root_ / name, "cat");
        }
        const std::string label = ::testing::PrintToString(row.args) + " ";
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--change", "@rules"});
        const auto r = run(args);
        EXPECT_EQ(r.exit_code, row.exit_code) << label << r.err;
        EXPECT_NE(r.err.find(expand(row.err_contains)), std::string::npos) << label << r.err;
        std::vector<std::string> done;
        for (const auto& line : r.out) {
            if (std::smatch m; std::regex_match(line, m, completed)) {
                done.push_back(m[1]);
            }
        }
        EXPECT_EQ(done, row.done) << label;
        for (const auto& name : files) {
            const bool rewritten = std::ranges::find(done, name) != done.end();
            EXPECT_EQ(slurp(root_ / name), rewritten ? "dog" : "cat") << label << name;
        }
    }
}

TEST_F(BatchCli, ExitStatusTable) {
    spit(root_ / "t.txt", "x");
    struct Row {
        std::vector<std::string> args;
        int exit_code;
        std::string err_contains;
    };
    const std::vector<Row> rows = {
        {{"--file", "@t.txt", "--change", "@no-rules"}, 1, ""},
        {{"--file", "@t.txt"}, 2, "请选择要替换的文件和替换来源"},
        // An empty --source adds nothing, so the field is still missing.
        {{"--source", "", "--change", "@t.txt"}, 2, "请选择要替换的文件和替换来源"},
        {{"--bogus"}, 2, "unknown option: --bogus"},
        {{"--file", "@t.txt", "--change"}, 2, "--change needs a value"},
        {{"--quiet=yes"}, 2, "takes no value"},
        {{"--help"}, 0, ""},
        {{"--version"}, 0, ""},
    };
    for (const auto& row : rows) {
        const auto r = run(row.args);
        EXPECT_EQ(r.exit_code, row.exit_code) << row.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(row.err_contains), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(root_ / "no-rules"));
}

TEST_F(BatchCli, QuietPrintsOnlyFailures) {
    spit(root_ / "ok.txt", "a");
    spit(root_ / "rules", "a|b|\n");
    const auto r = run({"--file", "@ok.txt", "--file", "@gone.txt", "--change", "@rules", "-q"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, std::vector<std::string>{"未能完成文件" + p("gone.txt") + "的替换--"});
    EXPECT_EQ(slurp(root_ / "ok.txt"), "b");
}

}  // namespace
