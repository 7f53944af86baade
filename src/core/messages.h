#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "replace_list_reader.h"

// The job's own texts, byte for byte (UTF-8). Every status message ends in "--".
namespace wendrel::core::messages {

inline constexpr std::string_view kInputCheck = "请选择要替换的文件和替换来源";
inline constexpr std::string_view kPreparing = "正在为替换做准备，请稍候--";
inline constexpr std::string_view kSourceRead = "完成对替换内容来源的读取--";
inline constexpr std::string_view kSourceUnreadable = "未能读取替换内容来源--";
inline constexpr std::string_view kExceptRead = "完成对除去文件列表的读取--";
inline constexpr std::string_view kReady = "完成替换的准备工作，即将开始替换--";
/// The start pass itself failed (for example out of memory); no file was touched.
inline constexpr std::string_view kPrepareFailed = "未能完成替换的准备工作--";
inline constexpr std::string_view kAllDone = "完成了对所有文件的替换--";
/// Closes a job the user stopped, in place of kAllDone.
inline constexpr std::string_view kStopped = "已停止--";
/// Every failure line, and no other line, begins with this ("could not").
inline constexpr std::string_view kFailurePrefix = "未能";

inline constexpr std::string_view kInfoTypeMany = "类型--文件夹/文件";
inline constexpr std::string_view kInfoTypeOne = "类型--文件";
inline constexpr std::string_view kInfoCount = "包含文件--";
inline constexpr std::string_view kInfoExcept = "除去文件--";
inline constexpr std::string_view kInfoSize = "大小--";

/// Under a failure line, indented: why ("reason: ").
inline constexpr std::string_view kReasonPrefix = "  原因：";

/// `text` with its control characters written out (`\n`, `\t`, `\r`, `\x1b`…), so that a
/// name cannot split a log line or reach a terminal as a command.
inline std::string escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

inline std::string file_done(std::string_view path) {
    return "完成文件" + escaped(path) + "的替换--";
}
inline std::string file_skipped(std::string_view path) {
    return "跳过了文件" + escaped(path) + "的替换--";
}
inline std::string file_failed(std::string_view path) {
    return "未能完成文件" + escaped(path) + "的替换--";
}
/// A folder item whose folder could not be listed (missing, not a folder, no permission).
inline std::string folder_unreadable(std::string_view folder) {
    return "未能读取文件夹" + escaped(folder) + "--";
}
/// A dry run's line for a file it would rewrite, and for one it would leave as it is.
inline std::string file_would_change(std::string_view path) {
    return "将会改动文件" + escaped(path) + "--";
}
inline std::string file_would_stay(std::string_view path) {
    return "不会改动文件" + escaped(path) + "--";
}

/// A warning about the replacement-content file.
inline std::string rules_warning(const RulesWarning& warning) {
    using Kind = RulesWarning::Kind;
    const std::string at = "替换内容来源第" + std::to_string(warning.line) + "行：";
    switch (warning.kind) {
        case Kind::blank_line:
            return at + "空行成了下一条记录查找内容的开头--";
        case Kind::text_after_record:
            return at + "第二个“|”后面的文字成了下一条记录查找内容的开头--";
        case Kind::line_without_bar:
            return at + "没有“|”，此行成了下一条记录查找内容的一部分--";
        case Kind::replacement_spans_lines:
            return at + "缺少第二个“|”，替换内容跨过了换行--";
        case Kind::empty_find:
            return at + "查找内容为空，此记录不会替换任何内容--";
        case Kind::repeated_find:
            return at + "查找内容与第" + std::to_string(warning.earlier_line) + "行相同--";
        case Kind::cut_short:
            return at + "记录不完整，未被读取--";
        case Kind::no_record:
            break;
    }
    return "替换内容来源中没有一条完整的记录--";
}

/// What a job did, counted for its closing line.
struct Tally {
    std::size_t changed = 0;    // rewritten (a dry run: would be)
    std::size_t unchanged = 0;  // completed without a change
    std::size_t skipped = 0;
    std::size_t failed = 0;
    std::size_t replacements = 0;  // made in the changed files
    std::size_t warnings = 0;      // about the replacement-content file
    /// Files read in an encoding of their own (not UTF-8, not bytes), per encoding.
    std::map<std::string, std::size_t> encodings;
};

/// After the summary, once per encoding: `count` files were read and written in `encoding`.
inline std::string encoding_group(std::string_view encoding, std::size_t count) {
    return "按" + escaped(encoding) + "编码处理了" + std::to_string(count) + "个文件--";
}

/// The line after the job's closing line: failures first, so that they are seen at a glance.
inline std::string summary(const Tally& t, bool dry_run) {
    const auto n = [](std::size_t v) { return std::to_string(v); };
    std::string line = dry_run ? "统计（未写入）：" : "统计：";
    if (t.failed != 0) {
        line += "失败" + n(t.failed) + "个文件，";
    }
    line += (dry_run ? "将会改动" : "改动了") + n(t.changed) + "个文件，未改动" + n(t.unchanged) +
            "个，跳过" + n(t.skipped) + "个";
    if (t.failed == 0) {
        line += "，失败0个";
    }
    line += "，共替换" + n(t.replacements) + "处";
    if (t.warnings != 0) {
        line += "；替换内容来源有" + n(t.warnings) + "处警告";
    }
    return line + "--";
}

// Undo: the last line of a job that can be taken back, and the lines of taking it back.
inline std::string undo_available(std::string_view id) {
    return "这次替换可以撤销，记录编号" + std::string(id) + "--";
}
/// `count` files were changed without their old content kept (the reason follows).
inline std::string not_undoable(std::size_t count) {
    return "未能保存" + std::to_string(count) + "个文件的原内容，这些文件的替换不能撤销--";
}
inline constexpr std::string_view kNothingToUndo = "没有可以撤销的替换--";
inline std::string record_unreadable(std::string_view id) {
    return "未能读取替换记录" + escaped(id) + "--";
}
inline std::string undo_start(std::string_view id) {
    return "正在撤销替换" + std::string(id) + "，请稍候--";
}
inline std::string file_restored(std::string_view path) {
    return "完成文件" + escaped(path) + "的恢复--";
}
/// The file is no longer what the job wrote: it is left as it is.
inline std::string file_changed_since(std::string_view path) {
    return "文件" + escaped(path) + "在替换后又被改动过，未恢复--";
}
inline std::string file_restore_failed(std::string_view path) {
    return "未能恢复文件" + escaped(path) + "--";
}
inline constexpr std::string_view kUndoDone = "完成了撤销--";
inline std::string undo_summary(const Tally& t) {
    const auto n = [](std::size_t v) { return std::to_string(v); };
    return "统计：恢复了" + n(t.changed) + "个文件，替换后又被改动而未恢复" + n(t.skipped) +
           "个，失败" + n(t.failed) + "个--";
}

}  // namespace wendrel::core::messages
