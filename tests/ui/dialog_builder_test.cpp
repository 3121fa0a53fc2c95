// The builder that turns a dialog template into widgets.
#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ui/dialog_builder.h"
#include "resources/resource_ids.h"

using namespace velmora;

namespace {

const char* ClassFor(ControlKind kind) {
    switch (kind) {
        case ControlKind::GroupBox: return "QGroupBox";
        case ControlKind::Label: return "QLabel";
        case ControlKind::EditField: return "QLineEdit";
        case ControlKind::CheckBox: return "QCheckBox";
        case ControlKind::PushButton: return "QPushButton";
    }
    return "";
}

QString TextOf(const QWidget* widget) {
    if (auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
    if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
    if (auto* field = qobject_cast<const QLineEdit*>(widget)) return field->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
    return {};
}

}  // namespace

class DialogBuilderTest : public QObject {
    Q_OBJECT

private slots:
    void templatesAreFoundByIdentifier();
    void dialogUnitsFollowTheFont();
    void everyControlIsBuiltInTemplateOrder_data();
    void everyControlIsBuiltInTemplateOrder();
    void tabOrderIsTemplateOrder();
    void noButtonIsADefaultButton();
    void framesFollowTheStyle();
    void controlsHaveAccessibleNames_data();
    void controlsHaveAccessibleNames();
};

void DialogBuilderTest::templatesAreFoundByIdentifier() {
    QVERIFY(FindDialogTemplate(IDD_MAIN) != nullptr);
    QCOMPARE(FindDialogTemplate(IDD_MAIN)->caption, "Velmora");
    QCOMPARE(FindDialogTemplate(IDD_PICTURE)->caption, "Picture");
    QCOMPARE(FindDialogTemplate(IDD_PICTURE)->controls.size(), std::size_t{0});
    QVERIFY(FindDialogTemplate(100) == nullptr);
    QVERIFY(FindDialogTemplate(IDC_OCTAVES) == nullptr);
}

void DialogBuilderTest::dialogUnitsFollowTheFont() {
    const QFont font = DialogFont(*FindDialogTemplate(IDD_MAIN));
    QCOMPARE(font.pointSize(), 8);
    // Where the template's family is missing a sans serif stands in, never nothing.
    QVERIFY(!QFontInfo(font).family().isEmpty());
    QVERIFY(!QFontInfo(font).fixedPitch());

    const DialogUnits units(font);
    const QFontMetrics metrics(font);
    const double average =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
    QVERIFY2(std::abs(units.BaseWidth() - average) <= 0.5, qPrintable(QString::number(average)));
    QCOMPARE(units.BaseHeight(), metrics.height());
    QCOMPARE(units.ToPixelsX(4), units.BaseWidth());
    QCOMPARE(units.ToPixelsY(8), units.BaseHeight());
    QCOMPARE(units.ToPixelsX(400), 100 * units.BaseWidth());
    QCOMPARE(units.ToPixelsX(0), 0);
    // One unit is rounded to the nearest pixel, halves up.
    QCOMPARE(units.ToPixelsX(1), (units.BaseWidth() * 2 + 4) / 8);
    QCOMPARE(units.ToPixelsY(1), (units.BaseHeight() * 2 + 8) / 16);

    // A larger font gives larger units, so the whole form grows with it.
    QFont larger = font;
    larger.setPointSize(16);
    QVERIFY(DialogUnits(larger).BaseWidth() > units.BaseWidth());
    QVERIFY(DialogUnits(larger).BaseHeight() > units.BaseHeight());
}

void DialogBuilderTest::everyControlIsBuiltInTemplateOrder_data() {
    QTest::addColumn<int>("dialogId");
    QTest::newRow("IDD_MAIN") << IDD_MAIN;
    QTest::newRow("IDD_PICTURE") << IDD_PICTURE;
}

void DialogBuilderTest::everyControlIsBuiltInTemplateOrder() {
    QFETCH(int, dialogId);
    const DialogTemplate& dialogTemplate = *FindDialogTemplate(dialogId);
    QDialog dialog;
    BuildDialog(dialogTemplate, dialog);
    const DialogUnits units(DialogFont(dialogTemplate));

    QCOMPARE(dialog.objectName(), QString::fromLatin1(dialogTemplate.identifier));
    QCOMPARE(dialog.windowTitle(), QString::fromLatin1(dialogTemplate.caption));
    QCOMPARE(dialog.pos(), QPoint(0, 0));
    QCOMPARE(dialog.size(), units.ToPixels(dialogTemplate.rect).size());

    const QList<QWidget*> children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(children.size(), static_cast<qsizetype>(dialogTemplate.controls.size()));
    for (std::size_t i = 0; i < dialogTemplate.controls.size(); ++i) {
        const ControlTemplate& control = dialogTemplate.controls[i];
        const QWidget* widget = children[static_cast<qsizetype>(i)];
        const QString where = QStringLiteral("control %1 (%2)").arg(i).arg(QString::fromLatin1(control.text));
        QVERIFY2(widget->inherits(ClassFor(control.kind)), qPrintable(where));
        QCOMPARE(widget->objectName(), QString::fromLatin1(control.identifier));
        QCOMPARE(TextOf(widget), QString::fromLatin1(control.text));
        if (control.id != IDC_STATIC) {
            QCOMPARE(DialogItem(dialog, control.id), widget);
        }
        const QRect expected = units.ToPixels(control.rect);
        QCOMPARE(widget->pos(), expected.topLeft());
        QCOMPARE(widget->height(), expected.height());
        if (control.kind == ControlKind::Label || control.kind == ControlKind::CheckBox) {
            // Widened where the font at hand needs it, so no text is cut off.
            QVERIFY2(widget->width() >= expected.width(), qPrintable(where));
            QVERIFY2(widget->width() >= widget->sizeHint().width(), qPrintable(where));
        } else {
            QCOMPARE(widget->width(), expected.width());
        }
        // Every control lies inside the client area.
        QVERIFY2(dialog.rect().contains(widget->geometry()), qPrintable(where));
    }
    QVERIFY(DialogItem(dialog, IDC_STATIC) == nullptr);
    QVERIFY(DialogItem(dialog, 4242) == nullptr);
}

void DialogBuilderTest::tabOrderIsTemplateOrder() {
    QDialog dialog;
    BuildDialog(*FindDialogTemplate(IDD_MAIN), dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    FocusFirstTabStop(*FindDialogTemplate(IDD_MAIN), dialog);
    const char* const order[] = {"IDC_OCTAVES",  "IDC_FREQUENCY", "IDC_AMPLITUDE",      "IDC_PERSISTENCE",
                                 "IDC_VARY_FREQUENCY", "IDC_GENERATE",  "IDC_VARY_AMPLITUDE", "IDC_FILENAME",
                                 "IDC_SAVE",     "IDC_WIDTH",     "IDC_HEIGHT",         "IDC_OCTAVES"};
    QWidget* widget = dialog.focusWidget();
    for (const char* name : order) {
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->objectName(), QString::fromLatin1(name));
        // The next widget in the chain that Tab would stop at.
        for (int step = 0; step < 100; ++step) {
            widget = widget->nextInFocusChain();
            if (widget->focusPolicy() & Qt::TabFocus) {
                break;
            }
        }
    }
    // Labels and the group box never take the focus.
    for (QWidget* child : dialog.findChildren<QWidget*>()) {
        if (child->objectName().isEmpty()) {
            QCOMPARE(child->focusPolicy(), Qt::NoFocus);
        }
    }
}

void DialogBuilderTest::noButtonIsADefaultButton() {
    QDialog dialog;
    BuildDialog(*FindDialogTemplate(IDD_MAIN), dialog);
    const QList<QPushButton*> buttons = dialog.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 2);
    for (QPushButton* button : buttons) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
}

void DialogBuilderTest::framesFollowTheStyle() {
    QDialog main;
    BuildDialog(*FindDialogTemplate(IDD_MAIN), main);
    const Qt::WindowFlags mainFlags = main.windowFlags();
    QVERIFY(mainFlags.testFlag(Qt::WindowTitleHint));
    QVERIFY(mainFlags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!mainFlags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!mainFlags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!mainFlags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(main.minimumSize(), main.maximumSize());  // a modal frame does not size

    QDialog picture;
    BuildDialog(*FindDialogTemplate(IDD_PICTURE), picture);
    const Qt::WindowFlags pictureFlags = picture.windowFlags();
    QVERIFY(pictureFlags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!pictureFlags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!pictureFlags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(picture.minimumSize() != picture.maximumSize());  // a sizing frame does
}

void DialogBuilderTest::controlsHaveAccessibleNames_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::newRow("Width") << "IDC_WIDTH" << "Width";
    QTest::newRow("Height") << "IDC_HEIGHT" << "Height";
    QTest::newRow("Octaves") << "IDC_OCTAVES" << "Octaves";
    QTest::newRow("Amplitude") << "IDC_AMPLITUDE" << "Amplitude";
    QTest::newRow("Frequency") << "IDC_FREQUENCY" << "Frequency";
    QTest::newRow("Persistence") << "IDC_PERSISTENCE" << "Persistence";
    QTest::newRow("file name") << "IDC_FILENAME" << "Save to file";
    QTest::newRow("vary frequency") << "IDC_VARY_FREQUENCY" << "Vary Frequency with octave";
    QTest::newRow("vary amplitude") << "IDC_VARY_AMPLITUDE" << "Vary Amplitude with octave";
    QTest::newRow("Generate") << "IDC_GENERATE" << "Generate";
    QTest::newRow("Save") << "IDC_SAVE" << "Save to file";
}

// What a screen reader announces: the name, and for a field the label
// that names it; check boxes and buttons name themselves.
void DialogBuilderTest::controlsHaveAccessibleNames() {
    QFETCH(QString, control);
    QFETCH(QString, name);
    QDialog dialog;
    BuildDialog(*FindDialogTemplate(IDD_MAIN), dialog);
    QWidget* field = dialog.findChild<QWidget*>(control);
    const bool labelled = qobject_cast<QLineEdit*>(field) != nullptr;
    QAccessibleInterface* widget = QAccessible::queryAccessibleInterface(field);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->text(QAccessible::Name), name);
    const auto labels = widget->relations(QAccessible::Label);
    QCOMPARE(labels.size(), labelled ? 1 : 0);
    if (labelled) {
        QAccessibleInterface* label = labels.front().first;
        QCOMPARE(label->role(), QAccessible::StaticText);
        QCOMPARE(label->text(QAccessible::Name), name);
    }
}

QTEST_MAIN(DialogBuilderTest)
#include "dialog_builder_test.moc"
