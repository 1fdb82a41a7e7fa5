#pragma once

#include "diag/Debug_Modul.h"

#include <QDialog>
#include <array>

class QLabel;

namespace ornbrook {

// The modal About dialog: names the author and offers two links, the web
// address (opened in the browser) and the mail address (a new mail to it).
// It has no buttons; the close box ends it.
class AboutForm final : public QDialog {
public:
    explicit AboutForm(QWidget* owner);
    AboutForm(const AboutForm&) = delete;
    AboutForm& operator=(const AboutForm&) = delete;

    static constexpr const char* AuthorName = "Ornbrook";
    static constexpr const char* WebAddress = "https://ornbrook.example.org/";
    static constexpr const char* MailAddress = "ornbrook@example.org";

    // Label1 to Label7.
    QLabel* Label(int number) const { return labels_.at(static_cast<std::size_t>(number - 1)); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Label4_Click();
    void Label6_Click();

    LiveObject live_{"AboutForm"};
    std::array<QLabel*, 7> labels_{};
};

} // namespace ornbrook
