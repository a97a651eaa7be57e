# The script bridge's message decoder against arbitrary bytes from the web process.
norv_fuzz_target(web_rpc_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebRpcFuzz.cpp
                 LIBS platform_web_rpc platform_com
                 DICT ${CMAKE_CURRENT_LIST_DIR}/WebRpc.dict)
