#include "app/widgets/FontAdjustment.h"

#include <sys/utsname.h>

#include <QFontDatabase>
#include <QWidget>
#include <cctype>

namespace {

constexpr const char* kNewerFont = "Segoe UI";

}  // namespace

int KernelMajorVersion(const std::string& release) {
    int major = 0;
    for (char c : release) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        if (major > 100000) return 0;
        major = major * 10 + (c - '0');
    }
    return major;
}

bool IsNewerSystemVersion() {
    utsname name{};
    if (uname(&name) != 0) return false;
    return KernelMajorVersion(name.release) > 5;
}

void SetDesignedFont(QWidget* form) {
    QFont font = form->font();
    font.setPointSize(8);
    form->setFont(font);
}

void AdjustFont(QWidget* form) {
    QFont font = form->font();
    if (font.family().compare(kNewerFont, Qt::CaseInsensitive) == 0) return;
    if (!QFontDatabase::families().contains(kNewerFont, Qt::CaseInsensitive)) return;
    if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() + 1);
    font.setFamily(kNewerFont);
    form->setFont(font);
}
