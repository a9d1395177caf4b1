#pragma once

// AvRetryDialog: the "File Access Denied" question a batch job asks when a
// file cannot be opened. The answer is asked again for every such file: 1
// retry, 2 skip this file, 3 cancel the job (also when the window is closed).

#include "AvFormDialog.h"

class QFile;

class AvRetryDialog : public AvFormDialog
{
    Q_OBJECT

public:
    enum { Retry = 1, Continue = 2, Cancel = 3 };

    static int ask(const QFile& inaccessibleFile);

public slots:
    void setRetry();
    void setContinue();
    void setCancel();

private:
    explicit AvRetryDialog(const QFile& inaccessibleFile);
};
