// The console of the headless front end: interrupts become a request instead of ending the process,
// and a question on standard input gives way to Ctrl-C. Each case runs in a child process of its own,
// so that the signals never reach the test runner.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "ravelin/support/osconsole.h"

namespace {

// Runs pfnChild in a child whose standard input and output are pipes; pfnParent gets the child's pid,
// the write end of its input and the read end of its output, and returns whether the child's input
// ends now (else it stays open until the child has ended). Returns the child's exit code, or -signal
// when a signal ended it.
template <typename Child, typename Parent>
int inChild(Child pfnChild, Parent pfnParent)
{
    int anIn[2], anOut[2];
    if (pipe(anIn) != 0 || pipe(anOut) != 0) return -1000;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(anIn[0], STDIN_FILENO);
        dup2(anOut[1], STDOUT_FILENO);
        close(anIn[1]);
        close(anOut[0]);
        _exit(pfnChild());
    }
    close(anIn[0]);
    close(anOut[1]);
    bool bEndInput = pfnParent(pid, anIn[1], anOut[0]);
    if (bEndInput) close(anIn[1]);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    if (!bEndInput) close(anIn[1]);
    close(anOut[0]);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
}

TEST(Console, ALineIsReadWithoutItsLineEndAndCutToCapacity)
{
    int nExit = inChild(
        [] {
            char szLine[4];
            if (os_ReadConsoleLine(szLine, sizeof szLine) != 3 || std::strcmp(szLine, "yes") != 0) return 1;
            if (os_ReadConsoleLine(szLine, sizeof szLine) != 3 || std::strcmp(szLine, "lon") != 0) return 2;
            return os_ReadConsoleLine(szLine, sizeof szLine) == -1 ? 0 : 3;  // end of input
        },
        [](pid_t, int hWrite, int) {
            EXPECT_EQ(14, write(hWrite, "yes\nlonger one", 14));
            return true;
        });
    // "longer one" without a line end is a last line, cut to the buffer; then the input ends.
    EXPECT_EQ(0, nExit);
}

TEST(Console, AnInterruptEndsAQuestionAndNoLongerEndsTheProcess)
{
    int nExit = inChild(
        [] {
            if (os_StartInterruptWatch() != 1) return 10;
            if (os_InterruptRequested()) return 11;
            if (write(STDOUT_FILENO, "r", 1) != 1) return 13;
            char szLine[16];
            int nRead = os_ReadConsoleLine(szLine, sizeof szLine);  // nobody answers
            return nRead == -2 && os_InterruptRequested() && os_InterruptCount() >= 1 ? 0 : 12;
        },
        [](pid_t pid, int, int hReady) {
            char ch = 0;
            EXPECT_EQ(1, read(hReady, &ch, 1));  // the watch is in place
            kill(pid, SIGINT);
            return false;  // the question stays open: only the interrupt can end it
        });
    EXPECT_EQ(0, nExit);
}

} // namespace
