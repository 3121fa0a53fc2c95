// The choice of the windowing platform: the user's choice wins, X11 is
// preferred wherever an X display is named, Wayland where none is.
#include <QTest>

#include <string>
#include <vector>

#include "ui/platform_choice.h"

using namespace velmora;

class PlatformChoiceTest : public QObject {
    Q_OBJECT

private slots:
    void userThenDisplayDecide_data();
    void userThenDisplayDecide();
};

void PlatformChoiceTest::userThenDisplayDecide_data() {
    // Words separated by spaces; "-" stands for an unset variable.
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("qpaPlatform");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("expected");
    QTest::newRow("X display") << "/usr/bin/velmora" << "-" << ":0" << "velmora -platform xcb;wayland";
    QTest::newRow("no X display") << "velmora" << "-" << "-" << "velmora -platform wayland;xcb";
    QTest::newRow("empty variables") << "velmora" << "" << "" << "velmora -platform wayland;xcb";
    QTest::newRow("QT_QPA_PLATFORM") << "velmora" << "wayland" << ":0" << "velmora";
    QTest::newRow("-platform beats QT_QPA_PLATFORM") << "velmora -platform offscreen" << "xcb" << ":0"
                                                     << "velmora -platform offscreen";
    QTest::newRow("--platform among others") << "velmora a.bmp --platform wayland -style fusion" << "-" << ":0"
                                             << "velmora -platform wayland";
    QTest::newRow("-platform without a name") << "velmora -platform" << "-" << ":0" << "velmora -platform xcb;wayland";
}

void PlatformChoiceTest::userThenDisplayDecide() {
    QFETCH(QString, arguments);
    QFETCH(QString, qpaPlatform);
    QFETCH(QString, display);
    QFETCH(QString, expected);
    std::vector<std::string> words;
    for (const QString& word : arguments.split(u' ')) {
        words.push_back(word.toStdString());
    }
    const std::string qpa = qpaPlatform.toStdString();
    const std::string x = display.toStdString();
    const std::vector<std::string> chosen =
        QtArguments(words, qpa == "-" ? nullptr : qpa.c_str(), x == "-" ? nullptr : x.c_str());
    QStringList result;
    for (const std::string& word : chosen) {
        result.push_back(QString::fromStdString(word));
    }
    QCOMPARE(result.join(u' '), expected);
}

QTEST_APPLESS_MAIN(PlatformChoiceTest)
#include "platform_choice_test.moc"
