// A caller's hook: the function the library calls back and the context handed to it.
#ifndef PIDSIFT_TRANSPORT_STREAM_COMMON_HOOK_H
#define PIDSIFT_TRANSPORT_STREAM_COMMON_HOOK_H

template <class Function> struct TS_Hook {
    Function pfnCall = nullptr;  // null: nothing is called
    void *pContext = nullptr;

    int Set(Function call, void *context)
    {
        pfnCall = call;
        pContext = context;
        return 0;
    }
    // Calls the hook, when there is one, with the arguments and the context.
    template <class... Arguments> void operator()(Arguments... arguments) const
    {
        if (pfnCall != nullptr)
            pfnCall(arguments..., pContext);
    }
    explicit operator bool() const { return pfnCall != nullptr; }
};

#endif  // PIDSIFT_TRANSPORT_STREAM_COMMON_HOOK_H
