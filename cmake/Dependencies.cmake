# Third-party packages. Everything comes from the distribution (see scripts/setup).
find_package(Threads REQUIRED)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)
  pkg_check_modules(INIH REQUIRED IMPORTED_TARGET inih)
  # iconv is part of glibc on Linux; nothing to link.
endif()

if(DB_SETUP_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  set(CMAKE_AUTOMOC ON)
  set(CMAKE_AUTORCC ON)
endif()

if(DB_SETUP_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
