# The window program for Windows is built only against a Qt built for Windows: pass the
# prefix scripts/windows-qt.sh prints, -DMIRKA_WINDOWS_QT=<prefix>. Without it a Windows
# build leaves the window program out and builds what it did before (the core, the
# terminal end and the tests).
if(NOT WIN32)
    return()
endif()
set(MIRKA_WINDOWS_QT "" CACHE PATH "Qt for Windows, from scripts/windows-qt.sh (empty: no window program)")
if(NOT MIRKA_WINDOWS_QT)
    if(MIRKA_BUILD_GUI)
        message(STATUS "No MIRKA_WINDOWS_QT: the window program is left out")
    endif()
    set(MIRKA_BUILD_GUI OFF)
    return()
endif()
if(NOT EXISTS "${MIRKA_WINDOWS_QT}/.complete")
    message(FATAL_ERROR "MIRKA_WINDOWS_QT=${MIRKA_WINDOWS_QT} is not a complete prefix of scripts/windows-qt.sh")
endif()
set(MIRKA_BUILD_GUI ON)
# The toolchain looks for packages only inside its roots; Qt's tools (moc, rcc, uic) are
# the host's, of the same version, as the Qt was built with.
list(APPEND CMAKE_FIND_ROOT_PATH "${MIRKA_WINDOWS_QT}")
list(APPEND CMAKE_PREFIX_PATH "${MIRKA_WINDOWS_QT}")
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH /usr CACHE PATH "The host's Qt, whose tools the Windows build runs")
endif()
if(NOT QT_HOST_PATH_CMAKE_DIR)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE_HOST}/cmake CACHE PATH "")
    if(NOT EXISTS "${QT_HOST_PATH_CMAKE_DIR}")
        set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "" FORCE)
    endif()
endif()
