#include "app/dialogabout.h"
#include "ui_dialogabout.h"

#include "engine/version.h"

#include <QPixmap>

DialogAbout::DialogAbout(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogAbout)
{
    ui->setupUi(this);

    const QPixmap tile(QStringLiteral(":/skin/skin/metal_bg.png"));
    QPalette pal = palette();
    pal.setBrush(QPalette::All, QPalette::Window, QBrush(tile));
    setPalette(pal);

    ui->label_program_name->setText(tr("Tarnwick Pdf to Image Converter"));
    ui->label_version->setText(QLatin1String(AppInfo::version));
    ui->label_company_name->setText(QLatin1String(AppInfo::company));
    ui->label_website->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(QLatin1String(AppInfo::website)));
}

DialogAbout::~DialogAbout()
{
    delete ui;
}
