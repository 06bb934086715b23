#ifndef PAGELISTVALIDATOR_H
#define PAGELISTVALIDATOR_H

#include <QRegularExpressionValidator>

// Validator of the typed page list: numbers of up to five digits, ranges "a-b", comma-separated.
QRegularExpressionValidator *createPageListValidator(QObject *parent);

#endif // PAGELISTVALIDATOR_H
