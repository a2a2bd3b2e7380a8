-- Neovim 0.7 as a real client: diagnostics, hover, code lens and a live
-- edit. Run: nvim --headless --clean -c 'luafile nvim_session.lua' with
-- VARNHOLT_LSP and VARNHOLT_REPORT set; prints PASS or FAIL: why.
local server, report = os.getenv('VARNHOLT_LSP'), os.getenv('VARNHOLT_REPORT')
local function finish(ok, why)
  io.stdout:write(ok and 'PASS\n' or ('FAIL: ' .. why .. '\n'))
  vim.cmd(ok and 'qall!' or 'cquit! 1')
end
local function check(cond, why) if not cond then error(why, 0) end end

local ok, err = pcall(function()
  local dir = vim.fn.tempname()
  vim.fn.mkdir(dir, 'p')
  local lines = {}
  for i = 1, 40 do lines[#lines + 1] = 'int v' .. i .. ' = ' .. i .. ';' end
  lines[#lines + 1] = 'int f(int a, int b) {'
  lines[#lines + 1] = '  if (a && b || a > b && !a) { return a ? b : a; }'
  lines[#lines + 1] = '  return 0;'
  lines[#lines + 1] = '}'
  vim.fn.writefile(lines, dir .. '/hot.c')
  vim.fn.writefile({ 'int g(void) { return 1; }' }, dir .. '/calm.c')

  -- The report's dump is the oracle: the same engine through another door.
  local heat = {}
  for _, l in ipairs(vim.fn.systemlist({ report, '--dump', dir })) do
    local rec = vim.fn.json_decode(l)
    if rec.path and rec.path:match('hot%.c$') then heat = rec.lineHeat or rec.lines or heat end
  end
  check(#heat > 0, 'no dump for hot.c')
  local threshold, expected = 100.0, {}
  for i, h in ipairs(heat) do if h > threshold then expected[#expected + 1] = i - 1 end end
  check(#expected > 0 and #expected < 10, 'test file has ' .. #expected .. ' lines over the threshold')

  local client = vim.lsp.start_client({
    cmd = { server }, name = 'varnholt', root_dir = dir,
    workspace_folders = { { uri = vim.uri_from_fname(dir), name = 'proj' } },
    init_options = { threshold = threshold, severity = 'warning', codeLens = true },
  })
  check(client, 'server did not start')
  vim.cmd('edit ' .. dir .. '/hot.c')
  local buf = vim.api.nvim_get_current_buf()
  vim.lsp.buf_attach_client(buf, client)

  local function diagLines()
    local got = {}
    for _, d in ipairs(vim.diagnostic.get(buf)) do
      check(d.severity == vim.diagnostic.severity.WARN, 'severity ' .. tostring(d.severity))
      check(d.source == 'varnholt' and d.message:match('^heat %d+%.%d'), 'message ' .. d.message)
      got[#got + 1] = d.lnum
    end
    table.sort(got)
    return got
  end
  check(vim.wait(15000, function() return #vim.diagnostic.get(buf) > 0 end, 50), 'no diagnostics')
  check(vim.deep_equal(diagLines(), expected),
    'diagnostics on ' .. vim.inspect(diagLines()) .. ', expected ' .. vim.inspect(expected))

  local pos = { line = expected[1], character = 2 }
  local params = { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = pos }
  local res = vim.lsp.buf_request_sync(buf, 'textDocument/hover', params, 5000)
  local hover = res and res[client] and res[client].result
  check(hover and hover.contents.value:match('heat ' .. string.format('%.1f', heat[expected[1] + 1])),
    'hover: ' .. vim.inspect(hover))
  res = vim.lsp.buf_request_sync(buf, 'textDocument/codeLens', { textDocument = params.textDocument }, 5000)
  local lens = res and res[client] and res[client].result
  check(lens and lens[1] and lens[1].command.title:match('^file heat [%d.]+ · rank 1 of 2$'),
    'code lens: ' .. vim.inspect(lens))

  -- A new hot line at the end of the buffer, unsaved.
  local last = vim.api.nvim_buf_line_count(buf)
  vim.api.nvim_buf_set_lines(buf, last, last, false, { lines[#lines - 2] })
  check(vim.wait(5000, function() return vim.tbl_contains(diagLines(), last) end, 20),
    'no diagnostic on the new line ' .. last .. ': ' .. vim.inspect(diagLines()))
  vim.lsp.stop_client(client)
end)
finish(ok, tostring(err))
