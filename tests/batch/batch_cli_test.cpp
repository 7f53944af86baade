// wendrel-batch on temporary trees, and under limits met with failure lines and exit status 1,
// never an abort, a kill or a file left behind.
#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <map>
#include <regex>
#include <tuple>

#include <sys/resource.h>

#include "../core/iconv_reference.h"
#include "../process_runner.h"

namespace {

using namespace wendrel::test;

// Sets a limit in the child; should it not take, the files the tests expect to fail are done.
std::function<void()> limit(int resource, rlim_t value) {
    return [=] {
        const rlimit both{value, value};
        ::setrlimit(resource, &both);
    };
}

struct Result {
    int status;
    std::string out, err;  // the time of day taken off the status lines
};

class BatchCli : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/wendrel-batch-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        fs::create_directories(root_ / "d");
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string p(const std::string& name) const { return root_ / name; }
    /// `text` with every "@" standing for the test folder and a "/".
    std::string expand(const std::string& text) const {
        return std::regex_replace(text, std::regex("@"), p(""));
    }
    std::vector<std::string> expand(std::vector<std::string> texts) const {
        std::ranges::transform(texts, texts.begin(), [this](auto& text) { return expand(text); });
        return texts;
    }
    /// The output with the time of day taken off each line, and a kept job's id as "ID".
    std::string out() const {
        const std::string untimed =
            std::regex_replace(slurp(p("out")), std::regex("--\\d\\d:\\d\\d:\\d\\d\n"), "--\n");
        return std::regex_replace(untimed, std::regex("记录编号[-0-9]+--"), "记录编号ID--");
    }

    Result run(const std::vector<std::string>& args, const std::function<void()>& limits = {}) {
        const int status = wait_for(start_batch(expand(args), p("out"), p("err"), limits));
        return {status, out(), slurp(p("err"))};
    }

    // Over folder d under `limits`: `done` done and `failed` failed, status 1 when any failed,
    // nothing left behind.
    void expect_limited(const std::string& list, const std::function<void()>& limits,
                        const std::vector<std::string>& done,
                        const std::vector<std::string>& failed) {
        spit(p("list"), list);
        const auto before = names(p("d"));
        const Result r = run({"--dir", "@d", "--change", "@list"}, limits);
        EXPECT_EQ(r.status, failed.empty() ? 0 : 1) << r.out << r.err;
        EXPECT_EQ(paths(r.out, kDone), expand(done)) << r.out << r.err;
        EXPECT_EQ(paths(r.out, kFailed), expand(failed)) << r.out << r.err;
        EXPECT_EQ(names(p("d")), before);
    }

    fs::path root_;
};

// A folder job as a dry run (counts per entry, nothing written), then a quiet one.
TEST_F(BatchCli, FolderJobDryRunThenForRealThenQuiet) {
    spit(p("d/b.txt"), "one cat\r\n");
    spit(p("d/a.txt"), "cat and Cat, concat");
    spit(p("rules"), "cat|dog|\r\ndog|cow|\r\n");
    const std::string opening = expand(R"(正在为替换做准备，请稍候--
完成对替换内容来源的读取--
完成对除去文件列表的读取--
类型--文件夹/文件
包含文件--2
除去文件--0
大小--1kb
完成替换的准备工作，即将开始替换--
)");
    // A dry run says what it would do, never that it did it.
    const Result dry = run({"--dir", "@d", "--change", "@rules", "-i", "-w", "--dry-run"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, opening + expand(R"(将会改动文件@d/a.txt--
dry run: @d/a.txt: replacements per entry: 2 2, total 4
将会改动文件@d/b.txt--
dry run: @d/b.txt: replacements per entry: 1 1, total 2
完成了对所有文件的替换--
统计（未写入）：将会改动2个文件，未改动0个，跳过0个，失败0个，共替换6处--
)"));
    EXPECT_EQ(slurp(p("d/a.txt")) + slurp(p("d/b.txt")), "cat and Cat, concatone cat\r\n");

    spit(p("q"), "cat");
    // Quiet: only the failure, with its reason, on both streams (they are not one file here).
    const Result quiet = run({"--file", "@q", "--file", "@gone", "--change", "@rules", "-q"});
    EXPECT_TRUE(
        std::regex_match(quiet.out, std::regex(expand("未能完成文件@gone的替换--\n  原因：.+\n"))))
        << quiet.out;
    EXPECT_EQ(std::regex_replace(quiet.err, std::regex("--[^-\n]*\n"), "--\n"), quiet.out);
    EXPECT_EQ(slurp(p("q")), "cow");
}

// Rules warnings go to standard error only; --strict stops there; a closed pipe stops the
// printing, not the job.
TEST_F(BatchCli, WarningsStrictAndAReaderThatGoesAway) {
    spit(p("d/a"), "cat");
    spit(p("rules"), "cat|dog|\r\n\r\ncow|pig|\r\n");  // a blank line before the second record
    const Result strict = run({"--dir", "@d", "--change", "@rules", "--strict"});
    EXPECT_EQ(strict.status, 2);
    EXPECT_EQ(slurp(p("d/a")), "cat");
    EXPECT_NE(strict.err.find("替换内容来源第2行：空行成了下一条记录查找内容的开头--"),
              std::string::npos)
        << strict.err;
    EXPECT_EQ(strict.out.find("替换内容来源第"), std::string::npos) << strict.out;
    const std::string piped =
        "bash -c '\"$0\" --dir \"$1\" --change \"$2\" | head -c 0; "
        "exit ${PIPESTATUS[0]}' " WENDREL_BATCH_BINARY " " +
        p("d") + " " + p("rules");
    const int status = std::system(piped.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(slurp(p("d/a")), "dog");
}

// --diff changes nothing, puts the lines on standard error and on standard output a patch that
// turns a copy of the files into what the real run writes; colours only when asked for here.
TEST_F(BatchCli, DiffIsAPatchForWhatTheRealRunWrites) {
    if (std::system("patch --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the 'patch' program is not installed (scripts/deps installs it)";
    }
    std::string long_text;
    for (int i = 0; i < 40; ++i) {
        long_text += (i % 9 == 0 ? "a cat\r\n" : "line " + std::to_string(i) + "\n");
    }
    const std::map<std::string, std::string> files = {{"d/a.txt", long_text + "cat"},
                                                      {"d/b c.txt", std::string("dog\xff\0\n", 6)},
                                                      {"d/same", "none\n"}};
    for (const auto& [name, text] : files) {
        spit(p(name), text);
    }
    spit(p("rules"), "cat|dog|\r\ndog|cow|\r\n");
    fs::create_directories(p("copy"));
    fs::copy(p("d"), p("copy/d"));
    const auto in_root = [this] { (void)::chdir(root_.c_str()); };
    const Result dry =
        run({"--dir", "d", "--change", "@rules", "--diff", "--color=always"}, in_root);
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.err.find("将会改动文件d/b c.txt--"), std::string::npos) << dry.err;
    EXPECT_EQ(dry.out.find("将会改动"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("\x1b[31m-a cat\r\x1b[m\n"), std::string::npos);
    for (const auto& [name, text] : files) {
        EXPECT_EQ(slurp(p(name)), text);
    }
    const std::string diff = std::regex_replace(dry.out, std::regex("\x1b\\[[0-9]*m"), "");
    spit(p("patch"), diff);
    ASSERT_EQ(std::system(("cd " + p("copy") + " && patch -s -p1 < ../patch").c_str()), 0);
    EXPECT_EQ(run({"--dir", "d", "--change", "@rules", "--diff"}, in_root).out, diff);
    ASSERT_EQ(run({"--dir", "d", "--change", "@rules"}, in_root).status, 0);
    for (const auto& [name, text] : files) {
        EXPECT_EQ(slurp(p("copy/" + name)), slurp(p(name))) << name;
    }
    EXPECT_NE(slurp(p("d/a.txt")), files.at("d/a.txt"));
}

// Chinese text in GB18030 and in UTF-16 either way round, changed by a UTF-8 pair: each file
// keeps its encoding and mark, '乤' (81 61) keeps its 'a', the diff shows the text in UTF-8, and
// the log names each encoding once; --encoding bytes replaces bytes as they are.
TEST_F(BatchCli, EncodedFilesAreChangedAsCharacters) {
    std::string text;
    for (int i = 0; i < 12; ++i) {
        text += "我们用中文写了这一段文字，看看替换以后文件是否还是原来的编码。乤a\n";
    }
    const auto changed = std::regex_replace(std::regex_replace(text, std::regex("中文"), "汉语"),
                                            std::regex("a"), "b");
    const std::vector<std::tuple<std::string, std::string, std::string>> files = {
        {"d/gb.txt", "GB18030", ""},
        {"d/le.txt", "UTF-16LE", "\xFF\xFE"},
        {"d/be.txt", "UTF-16BE", "\xFE\xFF"}};
    const auto encoded = [&](const std::string& utf8) {
        std::map<std::string, std::string> out;
        for (const auto& [name, encoding, mark] : files) {
            out[name] = mark + wendrel::test::iconv_whole("UTF-8", encoding.c_str(), utf8);
        }
        return out;
    };
    const auto contents = [&] {
        std::map<std::string, std::string> out;
        for (const auto& [name, encoding, mark] : files) {
            out[name] = slurp(p(name));
        }
        return out;
    };
    for (const auto& [name, bytes] : encoded(text)) {
        spit(p(name), bytes);
    }
    spit(p("rules"), "中文|汉语|\na|b|\n");
    const auto in_root = [this] { (void)::chdir(root_.c_str()); };
    const Result diff = run({"--diff", "--change", "rules", "d"}, in_root);
    ASSERT_EQ(diff.status, 0) << diff.err;
    EXPECT_NE(diff.out.find("\n+我们用汉语写了"), std::string::npos) << diff.out;
    EXPECT_EQ(contents(), encoded(text));
    const Result real = run({"--change", "rules", "d"}, in_root);
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(contents(), encoded(changed));
    for (const char* encoding : {"GB18030", "UTF-16BE", "UTF-16LE"}) {
        EXPECT_NE(real.out.find(std::string("按") + encoding + "编码处理了1个文件--"),
                  std::string::npos)
            << real.out;
    }
    ASSERT_EQ(run({"--encoding", "bytes", "a", "b", "d/gb.txt"}, in_root).status, 0);
    EXPECT_EQ(slurp(p("d/gb.txt")),
              encoded(std::regex_replace(changed, std::regex("乤"), "乥")).at("d/gb.txt"));
}

// Each --source, --file, --dir, --except and --exclude value adds whole items to its field in
// order; paths the field cannot express and bad options are refused.
TEST_F(BatchCli, OptionTable) {
    spit(p("r"), "cat|dog|\n");
    struct Row {
        std::vector<std::string> args;  // after "--change @r"; "@x" stands for the path of x
        int status;
        std::vector<std::string> done = {};  // files completed, in the order the job takes them
        std::string err_contains = "";       // with "@x" as in args
    };
    const std::vector<Row> rows = {
        {{"--file", "@f", "--source", "@g", "--file", "@d/1"}, 0, {"@d/1", "@g", "@f"}},
        {{"--dir", "@d", "--source", "@f;@g", "--dir", "@s*"},
         0,
         {"@s*/x", "@g", "@f", "@d/1", "@d/2"}},
        {{"--dir", "@d", "--except", "@f;@d/2", "--exclude", "@d/1", "--except", "@g"}, 0},
        // -r reaches into s*, which the name globs alone pick from.
        {{"-r", "--dir", "@", "--include", "[12x]", "--exclude-glob", "2"}, 0, {"@d/1", "@s*/x"}},
        {{"--file", "@t*"}, 2, {}, "--file '@t*'"},
        {{"--file", "@f", "--file", "@a;b"}, 2, {}, "--file '@a;b'"},
        {{"--file", "@f", "--change", "@no-rules"}, 1},
        {{"--file", "@f", "--change", ""}, 2, {}, "--change: the file name is empty"},
        {{"--source", ""}, 2, {}, "missing PATH"},  // "" adds nothing
        {{"--file", "@f", "--change"}, 2, {}, "--change needs a value"},
        {{"--quiet=yes"}, 2, {}, "takes no value"},
        {{"--file", "@f", "--diff", "--color=sometimes"}, 2, {}, "--color 'sometimes'"},
        {{"--dir", "@d", "-r", "--include", ""}, 2, {}, "--include: the glob is empty"},
        {{"--help"}, 0},
        {{"--version"}, 0},
    };
    const std::vector<std::string> files = {"@d/1", "@d/2", "@f", "@g", "@s*/x", "@t*", "@a;b"};
    fs::create_directories(p("s*"));
    for (const auto& row : rows) {
        for (const auto& name : files) {
            spit(expand(name), "cat");
        }
        SCOPED_TRACE(::testing::PrintToString(row.args));
        std::vector<std::string> args = {"--change", "@r"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Result r = run(args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_NE(r.err.find(expand(row.err_contains)), std::string::npos) << r.err;
        EXPECT_EQ(paths(r.out, kDone), expand(row.done));
        for (const auto& name : files) {
            const bool rewritten = std::ranges::find(row.done, name) != row.done.end();
            EXPECT_EQ(slurp(expand(name)), rewritten ? "dog" : "cat") << name;
        }
    }
}

// FIND REPLACE PATH... does what the same pair from a file does through the field options:
// same status, lines and files, for each form run on its own copy of one tree. Bad usage is
// refused in English, changing nothing.
TEST_F(BatchCli, PairFormDoesWhatTheFieldFormDoes) {
    const std::map<std::string, std::string> tree = {
        {"file.txt", "foo Foo food -x\n"}, {"dir/a.txt", "Foo foo food"}, {"dir/sub/b", "foo"}};
    const auto fill = [&](const std::string& copy) {
        for (const auto& [name, text] : tree) {
            fs::create_directories(fs::path(p(copy + "/" + name)).parent_path());
            spit(p(copy + "/" + name), text);
        }
    };
    const auto contents = [&](const std::string& copy) {
        std::string all;
        for (const auto& [name, text] : tree) {
            all += name + ": " + slurp(p(copy + "/" + name)) + "\n";
        }
        return all;
    };
    const auto in = [this](const std::string& copy) {
        return [folder = p(copy)] { (void)::chdir(folder.c_str()); };
    };
    struct Row {
        std::vector<std::string> pair_form, field_form;  // the field form also has --change @r
        std::string rules;                               // what @r holds
        bool changes;
    };
    const std::vector<Row> rows = {
        {{"foo", "bar", "file.txt"}, {"--file", "file.txt"}, "foo|bar|\n", true},
        {{"-wi", "foo", "bar", "dir/"},
         {"-w", "--ignore-case", "--dir", "dir/"},
         "foo|bar|\n",
         true},
        {{"--", "-x", "y", "file.txt"}, {"--file", "file.txt"}, "-x|y|\n", true},
        {{"-n", "foo", "bar", "file.txt"},
         {"--dry-run", "--file", "file.txt"},
         "foo|bar|\n",
         false},
        {{"-r", "foo", "bar", "dir/"}, {"--recursive", "--dir", "dir/"}, "foo|bar|\n", true},
    };
    fill("before");
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.pair_form));
        fill("pair");
        fill("field");
        spit(p("r"), row.rules);
        std::vector<std::string> field_form = row.field_form;
        field_form.insert(field_form.end(), {"--change", "@r"});
        const Result pair = run(row.pair_form, in("pair"));
        const Result field = run(field_form, in("field"));
        EXPECT_EQ(pair.status, 0) << pair.err;
        EXPECT_EQ(pair.status, field.status);
        EXPECT_EQ(pair.out, field.out);
        EXPECT_EQ(pair.err, field.err);
        EXPECT_EQ(contents("pair"), contents("field"));
        EXPECT_EQ(contents("pair") != contents("before"), row.changes) << contents("pair");
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
        {{"--bogus", "foo", "bar", "file.txt"}, "unknown option: --bogus"},
        {{"-wz", "foo", "bar", "file.txt"}, "unknown option: -z"},
        {{"foo", "bar"}, "missing PATH"},
        {{"", "bar", "file.txt"}, "FIND is empty"},
        {{"--encoding=", "foo", "bar", "file.txt"}, "--encoding: the encoding name is empty"},
        {{"--encoding", "NO-SUCH-CODE", "foo", "bar", "file.txt"},
         "--encoding 'NO-SUCH-CODE': not an encoding iconv knows (see iconv -l)"},
        {{"--dir", "dir"}, "missing FIND REPLACE PATH... (or --change FILE)"},
    };
    for (const auto& [args, message] : errors) {
        fill("pair");
        const Result r = run(args, in("pair"));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "wendrel-batch: " + message + "\nTry 'wendrel-batch --help'.\n");
        EXPECT_EQ(r.out + contents("pair"), contents("before"));
    }
}

// Too little address space for write-back threads: files flow through the entries all the
// same, whatever their size.
TEST_F(BatchCli, AddressSpaceLimitStillDoesEveryFile) {
#ifdef WENDREL_SANITIZED
    GTEST_SKIP() << "a sanitized build reserves terabytes of address space: no RLIMIT_AS run";
#endif
    spit(p("d/small"), "a cat");
    spit(p("d/large"), std::string(40 << 20, 'c') + "at");
    expect_limited("cat|dog|\r\nzz|y|\r\n", limit(RLIMIT_AS, 60 << 20), {"@d/large", "@d/small"},
                   {});
    EXPECT_EQ(slurp(p("d/small")), "a dog");
    EXPECT_EQ(slurp(p("d/large")), std::string((40 << 20) - 1, 'c') + "dog");
}

// A new content over RLIMIT_FSIZE fails the file: one entry (copied) and two (from memory).
TEST_F(BatchCli, FileSizeLimitFailsTheFileAndLeavesNothingBehind) {
    const std::string long_text(100000, 'y');
    for (const std::string& list :
         {"x|" + long_text + "|\r\n", "x|" + long_text + "|\r\nq|r|\r\n"}) {
        spit(p("d/f"), "a x b");
        expect_limited(list, limit(RLIMIT_FSIZE, 16 * 1024), {}, {"@d/f"});
        EXPECT_EQ(slurp(p("d/f")), "a x b");
    }
}

// A memory cgroup of 64 MiB: a file near its size, and a replacement multiplying one far past
// it, are done as a small file is: no file is ever held whole.
TEST_F(BatchCli, MemoryCgroupBelowTheFilesStillDoesEveryFile) {
    std::smatch own;  // this process's memory cgroup (v1), where a group of ours may be made
    const std::string cgroups = slurp("/proc/self/cgroup");
    const fs::path group =
        std::regex_search(cgroups, own, std::regex(":memory:(.*)"))
            ? "/sys/fs/cgroup/memory" + own[1].str() + "/wendrel-limits-" + std::to_string(getpid())
            : "";
    std::error_code error;
    if (group.empty() || !fs::create_directory(group, error)) {
        GTEST_SKIP() << "no memory cgroup (v1) this test may create a group in: " << group;
    }
    spit(group / "memory.limit_in_bytes", "67108864");
    const bool limited = slurp(group / "memory.limit_in_bytes") == "67108864\n";
    if (limited) {
        spit(p("d/small"), "x");
        spit(p("d/large"), std::string(48 << 20, 'b') + "x");
        spit(p("d/multiplied"), std::string(100, 'a'));
        expect_limited("a|" + std::string(1 << 20, 'y') + "|\r\nx|z|\r\n",
                       [procs = group / "cgroup.procs"] { spit(procs, "0"); },  // "0": itself
                       {"@d/large", "@d/multiplied", "@d/small"}, {});
    }
    fs::remove(group, error);
    if (!limited) {
        GTEST_SKIP() << "could not set a memory limit on " << group;
    }
    EXPECT_EQ(slurp(p("d/small")), "z");
    EXPECT_EQ(slurp(p("d/large")), std::string(48 << 20, 'b') + "z");
    EXPECT_EQ(slurp(p("d/multiplied")), std::string(100 << 20, 'y'));
}

// SIGINT mid-job: each file wholly old or new as its line says, nothing left, and the output
// ends with the stop line and the summary.
TEST_F(BatchCli, SigintStopsTheJobWithStatus130AndNoFileHalfDone) {
    const std::string old_text(16 << 10, 'c'), new_text(16 << 10, 'e');
    for (int i = 0; i < 2000; ++i) {
        spit(p("d/f" + std::to_string(i)), old_text);
    }
    const auto all = names(p("d"));
    spit(p("list"), "c|d|\r\nd|e|\r\n");
    const pid_t pid = start_batch({"--dir", p("d"), "--change", p("list")}, p("out"), p("err"));
    wait_for_done_line(p("out"));
    ::kill(pid, SIGINT);
    EXPECT_EQ(wait_for(pid), 130);
    const std::string out = this->out();
    const std::vector<std::string> done = paths(out, kDone);
    EXPECT_LT(done.size(), all.size()) << "the job ended before the signal";
    EXPECT_EQ(names(p("d")), all);
    for (const std::string& name : all) {
        const bool is_done = std::ranges::find(done, p("d/" + name)) != done.end();
        ASSERT_EQ(slurp(p("d/" + name)), is_done ? new_text : old_text) << name;
    }
    const std::string closing = "已停止--\n统计：改动了" + std::to_string(done.size()) +
                                "个文件，未改动0个，跳过0个，失败0个，共替换" +
                                std::to_string(done.size() * 2 * old_text.size()) +
                                "处--\n这次替换可以撤销，记录编号ID--\n";
    EXPECT_TRUE(out.ends_with(closing))
        << out.substr(out.size() - std::min<std::size_t>(out.size(), 300));
}

// Each job is kept in the state folder and listed; --undo takes the last back (an undo too),
// --undo ID a given one, and --no-undo keeps nothing.
TEST_F(BatchCli, UndoAndJobs) {
    spit(p("d/a.txt"), "cat");
    spit(p("rules"), "cat|dog|\n");
    ::setenv("XDG_STATE_HOME", p("state").c_str(), 1);  // this test's own journal
    const auto jobs = [&] { return run({"--jobs"}).out; };
    ASSERT_EQ(run({"--dir", "@d", "--change", "@rules"}).status, 0);
    EXPECT_TRUE(std::regex_match(jobs(), std::regex("[-0-9]+\t[-0-9: ]+\t改动1个文件\t可以撤销\n")))
        << jobs();
    const Result undo = run({"--undo"});
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_NE(undo.out.find(expand("完成文件@d/a.txt的恢复--\n")), std::string::npos) << undo.out;
    EXPECT_EQ(slurp(p("d/a.txt")), "cat");
    EXPECT_EQ(run({"--undo"}).status, 0);
    EXPECT_EQ(slurp(p("d/a.txt")), "dog");

    const Result unknown = run({"--undo", "19990101-000000"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.out.find("未能读取替换记录19990101-000000--"), std::string::npos);
    ASSERT_EQ(run({"--dir", "@d", "--change", "@rules", "--no-undo"}).status, 0);
    EXPECT_EQ(std::ranges::count(jobs(), '\n'), 3) << jobs();
}

}  // namespace
