#include "app/pagelistvalidator.h"

QRegularExpressionValidator *createPageListValidator(QObject *parent)
{
    const QRegularExpression pattern(QStringLiteral("((\\d{1,5},)?(\\d{1,5}-\\d{1,5}\\,)?)+"));
    return new QRegularExpressionValidator(pattern, parent);
}
