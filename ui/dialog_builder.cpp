#include "ui/dialog_builder.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "resources/resource_ids.h"

namespace velmora {

namespace {

constexpr char ControlIdProperty[] = "controlId";

// a * b / c rounded to the nearest integer, halves away from zero; c > 0.
int MultiplyDivide(int a, int b, int c) noexcept {
    const std::int64_t product = std::int64_t{a} * b;
    const std::int64_t half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

Qt::WindowFlags WindowFlagsFor(std::uint32_t style) {
    // Only what the style asks for: no minimise, maximise or help buttons.
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((style & DialogStyle::Caption) == DialogStyle::Caption) {
        flags |= Qt::WindowTitleHint;
    }
    if (style & DialogStyle::SystemMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    return flags;
}

QWidget* CreateControl(const ControlTemplate& control, QDialog& dialog) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
        case ControlKind::GroupBox:
            return new QGroupBox(text, &dialog);
        case ControlKind::Label: {
            auto* label = new QLabel(text, &dialog);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case ControlKind::EditField:
            return new QLineEdit(text, &dialog);
        case ControlKind::CheckBox:
            return new QCheckBox(text, &dialog);
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, &dialog);
            button->setAutoDefault(false);
            button->setDefault(false);
            return button;
        }
    }
    return nullptr;
}

// Makes each edit field the buddy of the label that names it, the nearest
// one on its row to its left, so that the accessibility layer reports the
// label as the field's name and the two as label and labelled.
void PairLabelsWithFields(const DialogTemplate& dialogTemplate, const std::vector<QWidget*>& widgets) {
    for (std::size_t field = 0; field < dialogTemplate.controls.size(); ++field) {
        if (dialogTemplate.controls[field].kind != ControlKind::EditField) {
            continue;
        }
        const int label = FieldLabel(dialogTemplate, field);
        if (auto* widget = label >= 0 ? qobject_cast<QLabel*>(widgets[static_cast<std::size_t>(label)]) : nullptr) {
            widget->setBuddy(widgets[field]);
        }
    }
}

}  // namespace

QFont DialogFont(const DialogTemplate& dialogTemplate) {
    QFont font(QString::fromUtf8(dialogTemplate.fontName), dialogTemplate.fontPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average over 52 letters, rounded to the nearest pixel.
    baseWidth_ = (alphabetWidth / 26 + 1) / 2;
    baseHeight_ = metrics.height();
}

int DialogUnits::ToPixelsX(int units) const noexcept {
    return MultiplyDivide(units, baseWidth_, 4);
}

int DialogUnits::ToPixelsY(int units) const noexcept {
    return MultiplyDivide(units, baseHeight_, 8);
}

QRect DialogUnits::ToPixels(const DialogRect& rect) const noexcept {
    return {ToPixelsX(rect.x), ToPixelsY(rect.y), ToPixelsX(rect.width), ToPixelsY(rect.height)};
}

void BuildDialog(const DialogTemplate& dialogTemplate, QDialog& dialog) {
    const QFont font = DialogFont(dialogTemplate);
    const DialogUnits units(font);

    dialog.setObjectName(QString::fromUtf8(dialogTemplate.identifier));
    dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    dialog.setWindowFlags(WindowFlagsFor(dialogTemplate.style));
    dialog.setFont(font);
    dialog.setSizeGripEnabled(false);

    const QRect frame = units.ToPixels(dialogTemplate.rect);
    dialog.move(frame.topLeft());
    if (dialogTemplate.style & DialogStyle::SizingFrame) {
        dialog.resize(frame.size());
    } else {
        dialog.setFixedSize(frame.size());
    }

    QWidget* previousTabStop = nullptr;
    std::vector<QWidget*> widgets;
    widgets.reserve(dialogTemplate.controls.size());
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = CreateControl(control, dialog);
        widgets.push_back(widget);
        widget->setObjectName(QString::fromUtf8(control.identifier));
        widget->setProperty(ControlIdProperty, control.id);
        QRect rect = units.ToPixels(control.rect);
        if (control.kind == ControlKind::Label || control.kind == ControlKind::CheckBox) {
            // A stand-in font can be wider than the template's own for some
            // words; widen the control rather than cut its text off.
            rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
        }
        widget->setGeometry(rect);
        if (IsTabStop(control.kind)) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop != nullptr) {
                QWidget::setTabOrder(previousTabStop, widget);
            }
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
    }
    PairLabelsWithFields(dialogTemplate, widgets);
}

QWidget* DialogItem(const QDialog& dialog, int id) {
    if (id == IDC_STATIC) {
        return nullptr;
    }
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QVariant value = child->property(ControlIdProperty);
        if (value.isValid() && value.toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

void FocusFirstTabStop(const DialogTemplate& dialogTemplate, QDialog& dialog) {
    for (const ControlTemplate& control : dialogTemplate.controls) {
        if (!IsTabStop(control.kind)) {
            continue;
        }
        QWidget* widget = DialogItem(dialog, control.id);
        if (widget == nullptr) {
            return;
        }
        widget->setFocus(Qt::TabFocusReason);
        if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            field->selectAll();
        }
        return;
    }
}

}  // namespace velmora
