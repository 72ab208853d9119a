/* Python-side additions to the proxy classes. Included at the end of
 * korvane.i, after every class is declared. Only %pythoncode: these add
 * methods to the proxy classes and no function to the extension module.
 *
 * Context managers: `with korvane.Vanta() as board:` closes the device
 * when the block is left, also through an exception. Entering does not
 * open anything, since a model is opened by name, serial number or path
 * as the caller chooses. The devices, hub and meter derive from KorCore
 * and inherit these methods.
 */

%extend KorCore {
%pythoncode %{
    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        if self.isConnected():
            self.close()
        return False
%}
}

%extend KorDevice {
%pythoncode %{
    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        if self.isOpen():
            self.close()
        return False
%}
}
