// The about box: the program's icon and name, links to the maker's web site and to support.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The maker's addresses. Placeholders under the reserved ".example" domain until the maker's
// real addresses are known: they lead nowhere.
inline constexpr const char* kVavurorWebsite = "https://www.vavuror.example/";
inline constexpr const char* kSupportAddress = "mailto:support@vavuror.example";

class TFormAbout : public QDialog {
    Q_OBJECT

  public:
    explicit TFormAbout(QWidget* mainForm);

  private:
    void FormCreate();
    void Label2Click();
    void Label3Click();
    void SpeedButton1Click();

    QLabel* Label2 = nullptr;  // "Visit Vavuror Website"
    QLabel* Label3 = nullptr;  // "Contact Support Department"
    QPushButton* SpeedButton1 = nullptr;
};
