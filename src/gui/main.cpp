#include <cstdio>

#include <QApplication>

// The windows come with the GUI change; until then the program says so and ends.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::puts("ミルカ: the login and talk windows are not built yet; the link core and its tests are.");
    return 0;
}
