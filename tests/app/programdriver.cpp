// The whole program on the application folder named by
// LANZHOU_TEST_APP_FOLDER, with message boxes recorded instead of shown
// (a question answered 否, or 是 for as many questions as
// LANZHOU_TEST_ANSWER_YES says). Prints the text of the last message box
// when the program ends.

#include "app/programstart.h"
#include "desktop/messagebox.h"
#include "safekeeping/appfolder.h"

#include <cstdio>

int main(int, char **argv)
{
    AppFolder::setOverride(qEnvironmentVariable("LANZHOU_TEST_APP_FOLDER"));
    MessageBox::setUnattended(true);
    for (int yes = qEnvironmentVariableIntValue("LANZHOU_TEST_ANSWER_YES"); yes > 0; --yes)
        MessageBox::setNextAnswer(QMessageBox::Yes);
    int argumentCount = 1; // the program's own options are not this test's business
    const int status = runProgram(argumentCount, argv);
    std::printf("%s\n", MessageBox::lastText().toUtf8().constData());
    return status;
}
