// Messages shown in modal message boxes.
#include "main_window/message_box_error_manager.h"

#include <QApplication>
#include <QMessageBox>

namespace vellum::viewer {

void MessageBoxErrorManager::show(int /*messageNumber*/, const std::string& title,
                                  const std::string& text) {
    QMessageBox::warning(QApplication::activeWindow(), QString::fromStdString(title),
                         QString::fromStdString(text));
}

}  // namespace vellum::viewer
