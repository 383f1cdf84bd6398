if(TARGET klr_session AND TARGET klr_sim)
  klr_add_bench(bench_session SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_session.cpp
                LIBS klr_session klr_sim Qt6::Widgets)
endif()
