if(TARGET klr_share AND TARGET klr_session AND TARGET klremote-sim)
  klr_add_bench(bench_share SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_share.cpp
                LIBS klr_share klr_session Qt6::Widgets)
  target_include_directories(bench_share PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  add_dependencies(bench_share klremote-sim)
endif()
