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
    # Debian keeps the host Qt's CMake files in its multiarch folder.
    file(GLOB host_info LIST_DIRECTORIES true /usr/lib/*/cmake/Qt6HostInfo /usr/lib/cmake/Qt6HostInfo)
    list(GET host_info 0 host_info)
    get_filename_component(host_cmake_dir "${host_info}" DIRECTORY)
    set(QT_HOST_PATH_CMAKE_DIR "${host_cmake_dir}" CACHE PATH "The host Qt's CMake files")
endif()
# Those packages are the host's, outside the toolchain's roots: named directly.
foreach(host_package Qt6HostInfo Qt6CoreTools Qt6GuiTools Qt6WidgetsTools)
    if(NOT ${host_package}_DIR AND EXISTS "${QT_HOST_PATH_CMAKE_DIR}/${host_package}")
        set(${host_package}_DIR "${QT_HOST_PATH_CMAKE_DIR}/${host_package}" CACHE PATH "")
    endif()
endforeach()
