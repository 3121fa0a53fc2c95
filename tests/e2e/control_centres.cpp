// Prints the parameter window's client size as "IDD_MAIN WIDTH HEIGHT", then
// where its controls are, as "IDENTIFIER X Y" lines with the centre of each
// named control in client-area pixels, laid out by the same builder and font
// as the program's. Run on the display the program runs on, so that the
// fonts and dialog units agree.
#include <QApplication>
#include <QDialog>
#include <QTextStream>
#include <QWidget>

#include "ui/dialog_builder.h"
#include "resources/resource_ids.h"

using namespace velmora;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const DialogTemplate& dialogTemplate = *FindDialogTemplate(IDD_MAIN);
    QDialog dialog;
    BuildDialog(dialogTemplate, dialog);
    QTextStream out(stdout);
    out << dialogTemplate.identifier << ' ' << dialog.width() << ' ' << dialog.height() << '\n';
    for (const ControlTemplate& control : dialogTemplate.controls) {
        if (control.id == IDC_STATIC) {
            continue;
        }
        const QPoint centre = DialogItem(dialog, control.id)->geometry().center();
        out << control.identifier << ' ' << centre.x() << ' ' << centre.y() << '\n';
    }
    return 0;
}
