#include "failure_reason.h"

#include <locale.h>
#include <string.h>

#include <cerrno>

#include "messages.h"

namespace wendrel::core {
namespace {

// The user's locale, asked once: the system's messages come in its language.
locale_t user_locale() {
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr));
        return made != static_cast<locale_t>(nullptr)
                   ? made
                   : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

std::string cause_text(int error) {
    switch (error) {
        case failure::kNotRegularFile:
            return "不是普通文件";
        case failure::kLockedByOtherJob:
            return "另一个替换任务正在处理此文件";
        case failure::kAttributesNotKept:
            return "新文件无法保留原文件的访问控制列表或扩展属性";
        case failure::kRulesFileUtf16:
            return "文件是UTF-16编码，请另存为UTF-8";
        case failure::kNotRepresentable:
            return "替换后的文字中有文件的编码不能表示的字符，文件保持原样";
        case failure::kNotInEncoding:
            return "文件不是所指定编码的文字";
        case failure::kRulesNotInEncoding:
            return "替换内容来源的文字不能按此文件的编码读取";
        case failure::kUnknownEncoding:
            return "不认识所指定的编码名称";
        case ESTALE:
        case EAGAIN:
            return "文件在替换期间被其他程序改动";
        case EFBIG:
            return "文件太大";
        default:
            return strerror_l(error, user_locale());
    }
}

}  // namespace

std::string reason_line(int error) {
    return std::string(messages::kReasonPrefix) + messages::escaped(cause_text(error));
}

}  // namespace wendrel::core
