#pragma once

#include <string>
#include <string_view>

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
/// Every failure line, and no other line, begins with this ("could not").
inline constexpr std::string_view kFailurePrefix = "未能";

inline constexpr std::string_view kInfoTypeMany = "类型--文件夹/文件";
inline constexpr std::string_view kInfoTypeOne = "类型--文件";
inline constexpr std::string_view kInfoCount = "包含文件--";
inline constexpr std::string_view kInfoExcept = "除去文件--";
inline constexpr std::string_view kInfoSize = "大小--";

inline std::string file_done(std::string_view path) {
    return "完成文件" + std::string(path) + "的替换--";
}
inline std::string file_skipped(std::string_view path) {
    return "跳过了文件" + std::string(path) + "的替换--";
}
inline std::string file_failed(std::string_view path) {
    return "未能完成文件" + std::string(path) + "的替换--";
}
/// A folder item whose folder could not be listed (missing, not a folder, no permission).
inline std::string folder_unreadable(std::string_view folder) {
    return "未能读取文件夹" + std::string(folder) + "--";
}

}  // namespace wendrel::core::messages
