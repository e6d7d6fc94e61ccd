#include "device/MessageBoxAlertPresenter.h"

#include "core/AppDelegate.h"
#include "core/AppStyle.h"
#include "core/MMViewGeometry.h"

#include <QMessageBox>
#include <QPushButton>

void MessageBoxAlertPresenter::presentAlert(const QString& messageText, const QString& informativeText,
    const QStringList& buttons, std::function<void(int button)> completion)
{
    QWidget* window = AppDelegate::shared() ? AppDelegate::shared()->window() : nullptr;
    auto* box = new QMessageBox(window);
    AppStyle::applyTo(box);
    box->setIcon(QMessageBox::Information);
    box->setText(messageText);
    box->setInformativeText(informativeText);
    QList<QAbstractButton*> added;
    for (const QString& title : buttons)
        added.append(box->addButton(title, QMessageBox::ActionRole));
    if (!added.isEmpty())
        box->setDefaultButton(qobject_cast<QPushButton*>(added.first()));
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, added, completion = std::move(completion)] {
        if (completion)
            completion(int(added.indexOf(box->clickedButton())));
    });
    box->open();
    if (window)
        MMViewGeometry::bringForward(*window);
}
