"""Routes of the common conversion-service convention, so its clients switch
by changing the base address. /health and /version are shared with the
native routes."""

from fastapi import Request


def install(app, svc, submit):
    @app.post("/forms/libreoffice/convert", tags=["compatibility"],
              summary="Convert office documents (files, merge, landscape, nativePageRanges); pdfa and pdfua are "
                      "refused with 400",
              openapi_extra={"requestBody": {"content": {"multipart/form-data": {"schema": {
                  "type": "object", "properties": {
                      "files": {"type": "array", "items": {"type": "string", "format": "binary"}},
                      "merge": {"type": "boolean"}, "landscape": {"type": "boolean"},
                      "nativePageRanges": {"type": "string", "description": "one page or one range: 1-5"}}}}}}})
    async def libreoffice_convert(request: Request):
        return await submit(svc, request, "compat/libreoffice")

    @app.post("/forms/pdfengines/merge", tags=["compatibility"],
              summary="Merge PDFs in the alphanumeric order of their file names",
              openapi_extra={"requestBody": {"content": {"multipart/form-data": {"schema": {
                  "type": "object", "properties": {
                      "files": {"type": "array", "items": {"type": "string", "format": "binary"}}}}}}}})
    async def pdfengines_merge(request: Request):
        return await submit(svc, request, "compat/merge")
