#pragma once

// AvOverwriteDialog: the "File Exists" question a batch job asks when a
// vaulted file of the same name is already in place. The answer says what to
// do with this file and, when "Remember decision" is ticked, with every
// further clash of the run (the even values).

#include "AvFormDialog.h"

class QCheckBox;
class QFile;

class AvOverwriteDialog : public AvFormDialog
{
    Q_OBJECT

public:
    enum mode {
        Overwrite = 1,
        OverwriteAlways = 2,
        NoOverwrite = 3,
        NoOverwriteAlways = 4,
        Copy = 5,
        CopyAlways = 6,
        Cancel = 7,
    };

    // Asks about the existing file; closing the window counts as Cancel.
    static mode ask(const QFile& existingFile);

public slots:
    void setOverwrite();
    void setNoOverwrite();
    void setCopy();
    void setCancel();

private:
    explicit AvOverwriteDialog(const QFile& existingFile);

    // The single answer, or its "always" form when the box is ticked.
    void finishWith(mode single);

    QCheckBox* m_rememberBox = nullptr;
};
