// SPDX-License-Identifier: MIT
// How a test reaches a form's controls: by their object names in the live form, as UI
// automation does, not through the form's generated ui member. The Controls structs generated
// from the .ui files (TForm1Controls …) hold one pointer per documented control; a control that
// the form no longer has ends the test at once, naming it.
#pragma once

#include <QObject>
#include <QString>

#include <cstdlib>

template <class T>
T *formControl(QObject *form, const char *name)
{
    const QString wanted = QString::fromLatin1(name);
    T *found = form->objectName() == wanted ? qobject_cast<T *>(form)
                                            : form->findChild<T *>(wanted);
    if (!found) {
        qFatal("%s has no %s named %s", qPrintable(form->objectName()),
               T::staticMetaObject.className(), name);
    }
    return found;
}
