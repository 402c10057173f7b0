// What the sanitizers may not report in the tests, all of it outside this
// project, in Debian's gRPC and the libraries it brings.
//
// LeakSanitizer: c-ares, with which gRPC resolves host names such as
// "localhost", keeps a few bytes to the end of the process.
//
// ThreadSanitizer: Debian's gRPC, abseil and protobuf are not built for it.
// Their threads hand data to each other through abseil's mutexes, futexes
// and atomics in code it does not see, so every such hand-over looks like a
// race: where their code calls the C library (memcpy, epoll_wait, malloc),
// in their own code, and in the inline code of their headers compiled into
// ours (grpcpp, protobuf). Races with a frame there are left out. The
// library's own state, shared between the caller's thread and the stream's
// thread under its own mutex, is touched outside those frames and stays
// checked.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libcares.so\n";
}

extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "called_from_lib:libgrpc.so\n"
           "called_from_lib:libgrpc++.so\n"
           "called_from_lib:libgpr.so\n"
           "called_from_lib:libupb.so\n"
           "called_from_lib:libaddress_sorting.so\n"
           "called_from_lib:libprotobuf.so\n"
           "called_from_lib:libcares.so\n"
           "called_from_lib:libssl.so\n"
           "called_from_lib:libcrypto.so\n"
           "called_from_lib:libre2.so\n"
           "race:libgrpc.so\n"
           "race:libgrpc++.so\n"
           "race:libgpr.so\n"
           "race:libprotobuf.so\n"
           "race:libabsl_\n"
           "race:/usr/include/grpcpp/\n"
           "race:/usr/include/grpc/\n"
           "race:/usr/include/google/protobuf/\n";
}
