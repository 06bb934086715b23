#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/config.h"
#include "conversion/folderhistory.h"

#include <QFileDialog>

namespace {

QStringList comboEntries(const QComboBox *combo)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries.append(combo->itemText(i));
    return entries;
}

} // namespace

void MainWindow::LoadConfigData()
{
    QComboBox *combo = ui->comboBox_output_folder;
    combo->clear();
    combo->addItems(FolderHistory::load(g_config));
    combo->setCurrentIndex(FolderHistory::lastUsedIndex(g_config));
}

void MainWindow::on_toolButton_select_output_folder_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Choose output directory"), QStringLiteral("."),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;

    QComboBox *combo = ui->comboBox_output_folder;
    QStringList entries = comboEntries(combo);
    const int current = FolderHistory::choose(&entries, folder);
    combo->clear();
    combo->addItems(entries);
    combo->setCurrentIndex(current);
    FolderHistory::save(g_config, entries);
}
